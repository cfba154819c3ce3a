// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "mainwindow.h"

#include "capslockhint.h"
#include "form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace mojitan {

namespace {

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

QColor resolve(Color color, QPalette::ColorRole systemRole)
{
    if (!color.isSystem())
        return QColor(color.red(), color.green(), color.blue());
    switch (color.systemColor()) {
    case Color::System::ButtonFace:
        return QApplication::palette().color(QPalette::Window);
    case Color::System::ButtonText:
        return QApplication::palette().color(QPalette::WindowText);
    case Color::System::Window:
        return QApplication::palette().color(QPalette::Base);
    case Color::System::WindowText:
        return QApplication::palette().color(QPalette::Text);
    }
    return QApplication::palette().color(systemRole);
}

} // namespace

// The game's view of the window.
class MainWindow::Surface : public Window {
public:
    explicit Surface(MainWindow &w)
        : m_w(w)
    {
    }

    void setCaption(Control which, const std::string &caption) override
    {
        QWidget *widget = m_w.control(which);
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            label->setText(qs(caption));
            // Setting the name raises a name-changed event, so a screen reader says
            // each new letter.
            if (which == Control::lblMoji)
                label->setAccessibleName(qs(caption));
        } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
            button->setText(qs(caption));
        } else if (auto *box = qobject_cast<QGroupBox *>(widget)) {
            box->setTitle(qs(caption));
        } else {
            widget->setWindowTitle(qs(caption));
        }
    }
    std::string caption(Control which) const override
    {
        QWidget *widget = m_w.control(which);
        if (auto *label = qobject_cast<QLabel *>(widget))
            return label->text().toStdString();
        if (auto *button = qobject_cast<QPushButton *>(widget))
            return button->text().toStdString();
        if (auto *box = qobject_cast<QGroupBox *>(widget))
            return box->title().toStdString();
        return widget->windowTitle().toStdString();
    }
    void setText(Control which, const std::string &text) override
    {
        if (auto *edit = qobject_cast<QLineEdit *>(m_w.control(which)))
            edit->setText(qs(text));
        else
            setCaption(which, text);
    }
    std::string text(Control which) const override
    {
        if (auto *edit = qobject_cast<QLineEdit *>(m_w.control(which)))
            return edit->text().toStdString();
        return caption(which);
    }
    void setEnabled(Control which, bool enabled) override
    {
        m_w.control(which)->setEnabled(enabled);
    }
    void setVisible(Control which, bool visible) override
    {
        m_w.control(which)->setVisible(visible);
    }
    Color backColor(Control which) const override { return m_w.m_back[std::size_t(which)]; }
    void setBackColor(Control which, Color color) override
    {
        m_w.m_back[std::size_t(which)] = color;
        m_w.applyColors(which);
    }
    void setForeColor(Control which, Color color) override
    {
        m_w.m_fore[std::size_t(which)] = color;
        m_w.applyColors(which);
    }
    void setFocus(Control which) override { m_w.control(which)->setFocus(Qt::OtherFocusReason); }
    void setTimerInterval(int ms) override
    {
        m_w.m_ticking = ms > 0;
        if (!m_w.m_ticking) {
            m_w.m_timer.stop();
            return;
        }
        // The game asks for a 1 ms tick, "as often as the platform allows": in Qt that is a
        // zero timer, which runs once per pass of the event loop.
        m_w.m_timer.start(ms == 1 ? 0 : ms);
    }
    int messageBox(const std::string &text, MessageButtons buttons,
                   const std::string &title) override
    {
        QMessageBox box(&m_w);
        box.setIcon(QMessageBox::NoIcon);
        box.setWindowTitle(qs(title));
        box.setTextFormat(Qt::PlainText);
        // A label breaks lines at LF; a CR left in front of it would show as a stray glyph.
        box.setText(qs(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        if (buttons == MessageButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
        }
        box.exec();
        if (buttons == MessageButtons::Ok)
            return kReplyOk;
        return box.clickedButton() == box.button(QMessageBox::Yes) ? kReplyYes : kReplyNo;
    }

private:
    MainWindow &m_w;
};

MainWindow::MainWindow(Clock &clock, Random &random, CuePlayer &cues, ScoreStore &store,
                       QWidget *parent)
    : QWidget(parent)
    , m_widgets(buildForm1(*this))
    , m_surface(std::make_unique<Surface>(*this))
    , m_game(*m_surface, clock, random, cues, store)
    , m_capsLockHint(new CapsLockHint(*control(Control::lblMoji)))
{
    m_back.fill(Color::system(Color::System::ButtonFace));
    m_fore.fill(Color::system(Color::System::ButtonText));
    m_back[std::size_t(Control::txtMoji)] = Color::system(Color::System::Window);
    m_fore[std::size_t(Control::txtMoji)] = Color::system(Color::System::WindowText);
    for (int i = 0; i < kControlCount; ++i)
        applyColors(Control(i));

    connect(&m_timer, &QTimer::timeout, this, &MainWindow::tick);
    // The typed text brings the tick that judges it, at once.
    connect(keyBox(), &QLineEdit::textChanged, this, [this](const QString &typed) {
        if (m_ticking && !typed.isEmpty() && !m_timer.isActive())
            m_timer.start();
    });
    connect(button(Control::cmdStart), &QPushButton::clicked, this,
            [this] { m_game.cmdStart_Click(); });
    connect(button(Control::cmdEnd), &QPushButton::clicked, this,
            [] { QCoreApplication::exit(0); });
    connect(button(Control::Command1), &QPushButton::clicked, this,
            [this] { m_game.Command1_Click(); });
    control(Control::cmdStart)->installEventFilter(this);
    control(Control::cmdEnd)->installEventFilter(this);
    keyBox()->installEventFilter(this);

    m_game.Form_Load(QCoreApplication::applicationDirPath().toStdString());
    control(Control::cmdStart)->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow()
{
    m_timer.stop();
}

void MainWindow::tick()
{
    // The shown letter typed in capitals without Shift is a wrong key like any other, but it
    // means Caps Lock is on, and every key after it will be wrong too: the player is told why
    // until a right key comes.
    const QString typed = keyBox()->text();
    const QString shown = static_cast<QLabel *>(control(Control::lblMoji))->text();
    const bool judging = m_game.state().Mode == ModeAwait && !typed.isEmpty();
    const bool capsLock = m_typedWithoutShift && typed != shown && typed == shown.toUpper();
    const int rightKeys = m_game.state().MaruCount;

    m_game.Timer1_Timer();

    if (judging) {
        if (m_game.state().MaruCount != rightKeys)
            m_capsLockHint->hide();
        else if (capsLock)
            m_capsLockHint->showByTheLetter();
        m_typedWithoutShift = false;
    }
    // A game waiting for a key with nothing typed does nothing on a tick, so none need come
    // until the player types: the timer sleeps instead of polling an empty box.
    if (m_game.state().Mode == ModeAwait && keyBox()->text().isEmpty())
        m_timer.stop();
}

QLineEdit *MainWindow::keyBox() const
{
    return static_cast<QLineEdit *>(control(Control::txtMoji));
}

QPushButton *MainWindow::button(Control which) const
{
    return static_cast<QPushButton *>(control(which));
}

void MainWindow::applyColors(Control which)
{
    QWidget *widget = control(which);
    const std::size_t i = std::size_t(which);
    QPalette palette = widget->palette();
    const bool isEdit = which == Control::txtMoji;
    palette.setColor(isEdit ? QPalette::Base : QPalette::Window,
                     resolve(m_back[i], QPalette::Window));
    palette.setColor(isEdit ? QPalette::Text : QPalette::WindowText,
                     resolve(m_fore[i], QPalette::WindowText));
    widget->setPalette(palette);
}

bool MainWindow::event(QEvent *event)
{
    // A system colour is a reference: when the desktop's palette changes, follow it. (Qt does
    // not pass this event on to changeEvent().)
    if (event->type() == QEvent::ApplicationPaletteChange)
        for (int i = 0; i < kControlCount; ++i)
            applyColors(Control(i));
    // The hint is a window of its own: it follows the game's window, and does not stay on
    // top of another program's.
    if (event->type() == QEvent::Move && m_capsLockHint->isVisible())
        m_capsLockHint->showByTheLetter();
    if (event->type() == QEvent::WindowDeactivate)
        m_capsLockHint->hide();
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == keyBox() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!key->text().isEmpty())
            m_typedWithoutShift = !key->modifiers().testFlag(Qt::ShiftModifier);
    }
    if (event->type() == QEvent::FocusIn) {
        if (watched == control(Control::cmdStart))
            m_game.cmdStart_GotFocus();
        else if (watched == control(Control::cmdEnd))
            m_game.cmdEnd_GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mojitan
