// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "color.h"

#include <string>

namespace mojitan {

// The controls of the one window, in tab order, plus the window itself.
enum class Control {
    Form1,
    lblMoji,
    cmdStart,
    cmdEnd,
    Frame1,
    txtMoji,
    lblBatu,
    lblMaru,
    label1,
    lblScore,
    Command1,
    Label2,
};
inline constexpr int kControlCount = int(Control::Label2) + 1;

enum class MessageButtons { Ok, YesNo };

// Reply codes of a message box.
inline constexpr int kReplyOk = 1;
inline constexpr int kReplyYes = 6;
inline constexpr int kReplyNo = 7;

inline constexpr const char *kAppTitle = "モジタン";

// Everything the game does to its window. Texts are UTF-8. The Qt window implements it,
// and the game sees nothing else.
class Window {
public:
    virtual ~Window() = default;

    // Label captions; reading returns exactly the text last set.
    virtual void setCaption(Control control, const std::string &caption) = 0;
    virtual std::string caption(Control control) const = 0;

    // The text of the input box: everything typed since it was last set.
    virtual void setText(Control control, const std::string &text) = 0;
    virtual std::string text(Control control) const = 0;

    virtual void setEnabled(Control control, bool enabled) = 0;
    virtual void setVisible(Control control, bool visible) = 0;

    virtual Color backColor(Control control) const = 0;
    virtual void setBackColor(Control control, Color color) = 0;
    virtual void setForeColor(Control control, Color color) = 0;

    virtual void setFocus(Control control) = 0;

    // 0 stops the tick; otherwise the tick runs about every `ms` milliseconds.
    virtual void setTimerInterval(int ms) = 0;

    // Modal; returns the reply code of the button pressed.
    virtual int messageBox(const std::string &text, MessageButtons buttons,
                           const std::string &title = kAppTitle) = 0;
};

} // namespace mojitan
