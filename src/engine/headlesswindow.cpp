#include "headlesswindow.h"

namespace mojitan {

namespace {

// The focus can rest only on the buttons and the text box, visited in tab order.
constexpr Control kTabOrder[] = {Control::cmdStart, Control::cmdEnd, Control::txtMoji,
                                 Control::Command1};

bool isButton(Control control)
{
    return control == Control::cmdStart || control == Control::cmdEnd
        || control == Control::Command1;
}

} // namespace

HeadlessWindow::HeadlessWindow()
{
    auto &c = m_controls;
    c[index(Control::Form1)].caption = kAppTitle;
    c[index(Control::lblMoji)].caption = "A";
    c[index(Control::cmdStart)].caption = "スタート";
    c[index(Control::cmdEnd)].caption = "終了";
    c[index(Control::Frame1)].caption = "成績";
    c[index(Control::Frame1)].visible = false;
    c[index(Control::txtMoji)].text = "A";
    c[index(Control::txtMoji)].back = Color::system(Color::System::Window);
    c[index(Control::txtMoji)].fore = Color::system(Color::System::WindowText);
    c[index(Control::lblBatu)].caption = "誤：0";
    c[index(Control::lblMaru)].caption = "正：0";
    c[index(Control::label1)].caption = "ハイスコア";
    c[index(Control::lblScore)].caption = "XXXXms";
    c[index(Control::Command1)].caption = "スコア消去";
    c[index(Control::Label2)].caption = "Enterで開始します。";
    m_focus = Control::cmdStart;
}

void HeadlessWindow::setCaption(Control control, const std::string &caption)
{
    m_controls[index(control)].caption = caption;
    record({Operation::Kind::Caption, control, caption, {}, 0});
}

std::string HeadlessWindow::caption(Control control) const
{
    return m_controls[index(control)].caption;
}

void HeadlessWindow::setText(Control control, const std::string &text)
{
    m_controls[index(control)].text = text;
    record({Operation::Kind::Text, control, text, {}, 0});
}

std::string HeadlessWindow::text(Control control) const
{
    return m_controls[index(control)].text;
}

void HeadlessWindow::setEnabled(Control control, bool enabled)
{
    m_controls[index(control)].enabled = enabled;
    record({Operation::Kind::Enabled, control, {}, {}, enabled});
    moveFocusOnIfLost();
}

void HeadlessWindow::setVisible(Control control, bool visible)
{
    m_controls[index(control)].visible = visible;
    record({Operation::Kind::Visible, control, {}, {}, visible});
    moveFocusOnIfLost();
}

Color HeadlessWindow::backColor(Control control) const
{
    return m_controls[index(control)].back;
}

void HeadlessWindow::setBackColor(Control control, Color color)
{
    m_controls[index(control)].back = color;
    record({Operation::Kind::BackColor, control, {}, color, 0});
}

void HeadlessWindow::setForeColor(Control control, Color color)
{
    m_controls[index(control)].fore = color;
    record({Operation::Kind::ForeColor, control, {}, color, 0});
}

void HeadlessWindow::setFocus(Control control)
{
    record({Operation::Kind::Focus, control, {}, {}, 0});
    if (canTakeFocus(control))
        giveFocus(control);
}

void HeadlessWindow::setTimerInterval(int ms)
{
    m_timerInterval = ms;
    record({Operation::Kind::Timer, Control::Form1, {}, {}, ms});
}

int HeadlessWindow::messageBox(const std::string &text, MessageButtons buttons,
                               const std::string &title)
{
    record({Operation::Kind::MessageBox, Control::Form1, text, {}, int(buttons)});
    m_messages.push_back({text, buttons, title});
    if (whileMessageBoxOpen)
        whileMessageBoxOpen();
    if (!replies.empty()) {
        const int reply = replies.front();
        replies.pop_front();
        return reply;
    }
    return buttons == MessageButtons::Ok ? kReplyOk : kReplyYes;
}

bool HeadlessWindow::type(const std::string &typed)
{
    if (m_focus != Control::txtMoji || !canTakeFocus(Control::txtMoji))
        return false;
    m_controls[index(Control::txtMoji)].text += typed;
    return true;
}

std::optional<Control> HeadlessWindow::pressEnter()
{
    if (!m_focus || !isButton(*m_focus) || !canTakeFocus(*m_focus))
        return std::nullopt;
    const Control clicked = *m_focus;
    if (onClick)
        onClick(clicked);
    return clicked;
}

bool HeadlessWindow::isShown(Control control) const
{
    const bool inFrame = control == Control::lblBatu || control == Control::lblMaru;
    if (inFrame && !m_controls[index(Control::Frame1)].visible)
        return false;
    return m_controls[index(control)].visible;
}

bool HeadlessWindow::canTakeFocus(Control control) const
{
    const bool focusable = isButton(control) || control == Control::txtMoji;
    return focusable && isShown(control) && m_controls[index(control)].enabled;
}

void HeadlessWindow::giveFocus(Control control)
{
    if (m_focus == control)
        return;
    m_focus = control;
    if (isButton(control) && onGotFocus)
        onGotFocus(control);
}

void HeadlessWindow::moveFocusOnIfLost()
{
    if (!m_focus || canTakeFocus(*m_focus))
        return;
    // Like a toolkit, hand the focus to the next control in tab order that can hold it.
    std::size_t start = 0;
    for (std::size_t i = 0; i < std::size(kTabOrder); ++i)
        if (kTabOrder[i] == *m_focus)
            start = i;
    for (std::size_t step = 1; step <= std::size(kTabOrder); ++step) {
        const Control next = kTabOrder[(start + step) % std::size(kTabOrder)];
        if (canTakeFocus(next)) {
            giveFocus(next);
            return;
        }
    }
    m_focus.reset();
}

} // namespace mojitan
