#pragma once

#include "window.h"

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mojitan {

// An in-memory window that keeps the promises a real toolkit keeps: a read returns what
// was last set, hidden or disabled controls take no focus, hiding a frame hides what it
// holds, the focus moves on when its holder goes away, and only the focused, enabled text
// box receives typing. Message boxes are answered from a script and recorded.
class HeadlessWindow : public Window {
public:
    struct ControlState {
        std::string caption;
        std::string text;
        bool enabled = true;
        bool visible = true;
        Color back = Color::system(Color::System::ButtonFace);
        Color fore = Color::system(Color::System::ButtonText);
    };

    // One operation the game performed, in the order it performed them.
    struct Operation {
        enum class Kind { Caption, Text, Enabled, Visible, BackColor, ForeColor, Focus, Timer, MessageBox };
        Kind kind;
        Control control;
        std::string text;
        Color color;
        int number = 0;
    };

    struct ShownMessage {
        std::string text;
        MessageButtons buttons;
        std::string title;
    };

    // The window as designed: captions and texts as drawn, the results frame hidden.
    HeadlessWindow();

    void setCaption(Control control, const std::string &caption) override;
    std::string caption(Control control) const override;
    void setText(Control control, const std::string &text) override;
    std::string text(Control control) const override;
    void setEnabled(Control control, bool enabled) override;
    void setVisible(Control control, bool visible) override;
    Color backColor(Control control) const override;
    void setBackColor(Control control, Color color) override;
    void setForeColor(Control control, Color color) override;
    void setFocus(Control control) override;
    void setTimerInterval(int ms) override;
    int messageBox(const std::string &text, MessageButtons buttons, const std::string &title) override;

    // What a player does.
    // Types into whatever holds the focus; only an enabled text box takes it.
    bool type(const std::string &typed);
    // Enter on the focused button clicks it; returns the button clicked, if any.
    std::optional<Control> pressEnter();

    const ControlState &control(Control control) const { return m_controls[index(control)]; }
    // Visible itself and inside a visible container.
    bool isShown(Control control) const;
    std::optional<Control> focus() const { return m_focus; }
    int timerInterval() const { return m_timerInterval; }

    const std::vector<Operation> &operations() const { return m_operations; }
    void clearOperations() { m_operations.clear(); }
    const std::vector<ShownMessage> &messages() const { return m_messages; }

    // Replies for the next message boxes; once used up, a box is answered with its
    // default button (OK, or Yes).
    std::deque<int> replies;
    // Runs while a message box is open, the way a toolkit's nested event loop runs timers.
    std::function<void()> whileMessageBoxOpen;
    // Raised when a button gains the focus or is clicked with Enter.
    std::function<void(Control)> onGotFocus;
    std::function<void(Control)> onClick;

private:
    static std::size_t index(Control control) { return std::size_t(control); }
    bool canTakeFocus(Control control) const;
    void giveFocus(Control control);
    void moveFocusOnIfLost();
    void record(Operation operation) { m_operations.push_back(std::move(operation)); }

    std::array<ControlState, kControlCount> m_controls;
    std::optional<Control> m_focus;
    int m_timerInterval = 0;
    std::vector<Operation> m_operations;
    std::vector<ShownMessage> m_messages;
};

} // namespace mojitan
