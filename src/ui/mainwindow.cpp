#include "mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <limits>

namespace mojitan {

namespace {

QString qs(const std::string &text) { return QString::fromStdString(text); }

// Every font the window names is the same proportional gothic. The first face is the one
// the layout was drawn with; where it is missing the second, which Debian ships, keeps the
// letters proportional (asked for alone, the first name falls back to a fixed-width face).
QFont gothic(double points, bool italic = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("Noto Sans CJK JP")});
    font.setPointSizeF(points);
    font.setItalic(italic);
    font.setWeight(QFont::Normal);
    return font;
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
    explicit Surface(MainWindow &w) : m_w(w) {}

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
    void setEnabled(Control which, bool enabled) override { m_w.control(which)->setEnabled(enabled); }
    void setVisible(Control which, bool visible) override { m_w.control(which)->setVisible(visible); }
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
        if (ms <= 0) {
            m_w.m_timer.stop();
        } else {
            m_w.m_timer.setInterval(ms);
            m_w.m_timer.start();
        }
    }
    int messageBox(const std::string &text, MessageButtons buttons, const std::string &title) override
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
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
    , m_surface(std::make_unique<Surface>(*this))
    , m_game(*m_surface, clock, random, cues, store)
{
    m_back.fill(Color::system(Color::System::ButtonFace));
    m_fore.fill(Color::system(Color::System::ButtonText));
    m_back[std::size_t(Control::txtMoji)] = Color::system(Color::System::Window);
    m_fore[std::size_t(Control::txtMoji)] = Color::system(Color::System::WindowText);
    buildControls();

    // The tick runs as fast as the platform allows; a coarse timer would add up to 5%
    // of jitter to every judged key.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_game.Timer1_Timer(); });
    connect(m_cmdStart, &QPushButton::clicked, this, [this] { m_game.cmdStart_Click(); });
    connect(m_cmdEnd, &QPushButton::clicked, this, [] { QCoreApplication::exit(0); });
    connect(m_command1, &QPushButton::clicked, this, [this] { m_game.Command1_Click(); });
    m_cmdStart->installEventFilter(this);
    m_cmdEnd->installEventFilter(this);

    m_game.Form_Load(QCoreApplication::applicationDirPath().toStdString());
    m_cmdStart->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow()
{
    m_timer.stop();
}

void MainWindow::buildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setFixedSize(104, 60);
    // The window's own font, which the frame, its counters and the hint inherit: the same
    // gothic at the classic 9 points, so the hint fits its square on any desktop.
    setFont(gothic(9));

    auto place = [this](QWidget *widget, Control which, const char *name, QRect rect) {
        widget->setObjectName(QLatin1String(name));
        widget->setGeometry(rect);
        m_widgets[std::size_t(which)] = widget;
    };
    auto label = [&](QWidget *parent, Control which, const char *name, const QString &caption,
                     QRect rect) {
        auto *l = new QLabel(caption, parent);
        l->setAutoFillBackground(true); // opaque, so a colour fills the whole rectangle
        l->setTextFormat(Qt::PlainText);
        place(l, which, name, rect);
        return l;
    };
    auto button = [&](Control which, const char *name, const QString &caption, QRect rect) {
        auto *b = new QPushButton(caption, this);
        b->setAutoDefault(true); // Enter clicks the focused button, not only Space
        place(b, which, name, rect);
        return b;
    };
    m_widgets[std::size_t(Control::Form1)] = this;

    // Created back to front: a later sibling is drawn over an earlier one.
    m_lblMoji = label(this, Control::lblMoji, "lblMoji", QStringLiteral("A"), {0, 8, 57, 49});
    m_lblMoji->setFont(gothic(36));
    m_lblMoji->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    QLabel *label1 = label(this, Control::label1, "label1", QStringLiteral("ハイスコア"), {48, 32, 41, 9});
    label1->setFont(gothic(6));

    QLabel *lblScore = label(this, Control::lblScore, "lblScore", QStringLiteral("XXXXms"), {56, 40, 41, 11});
    lblScore->setFont(gothic(8.25));
    lblScore->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblScore->setWordWrap(true);

    QLabel *label2 = label(this, Control::Label2, "Label2", QStringLiteral("Enterで開始します。"), {8, 8, 41, 41});
    label2->setWordWrap(true);
    label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_cmdStart = button(Control::cmdStart, "cmdStart", QStringLiteral("スタート"), {64, 0, 33, 17});
    m_cmdStart->setFont(gothic(5.25, true));
    m_cmdStart->setToolTip(QStringLiteral(
        "スタートボタンを押したら、表示されている文字を、タイピングして下さい。"));

    m_cmdEnd = button(Control::cmdEnd, "cmdEnd", QStringLiteral("終了"), {64, 16, 33, 17});
    m_cmdEnd->setFont(gothic(5.25));

    m_frame1 = new QGroupBox(QStringLiteral("成績"), this);
    m_frame1->setAutoFillBackground(true);
    place(m_frame1, Control::Frame1, "Frame1", {48, 0, 49, 57});
    label(m_frame1, Control::lblBatu, "lblBatu", QStringLiteral("誤：0"), {8, 16, 33, 17});
    label(m_frame1, Control::lblMaru, "lblMaru", QStringLiteral("正：0"), {8, 32, 33, 17});
    m_frame1->hide();

    m_txtMoji = new QLineEdit(QStringLiteral("A"), this);
    m_txtMoji->setFont(gothic(20.25));
    m_txtMoji->setMaxLength(std::numeric_limits<int>::max()); // no limit on what is typed
    place(m_txtMoji, Control::txtMoji, "txtMoji", {16, 128, 33, 30});

    m_command1 = button(Control::Command1, "Command1", QStringLiteral("スコア消去"), {48, 48, 49, 12});
    m_command1->setFont(gothic(6));

    setTabOrder(m_cmdStart, m_cmdEnd);
    setTabOrder(m_cmdEnd, m_txtMoji);
    setTabOrder(m_txtMoji, m_command1);

    for (int i = 0; i < kControlCount; ++i)
        applyColors(Control(i));
}

void MainWindow::applyColors(Control which)
{
    QWidget *widget = control(which);
    const std::size_t i = std::size_t(which);
    QPalette palette = widget->palette();
    const bool isEdit = which == Control::txtMoji;
    palette.setColor(isEdit ? QPalette::Base : QPalette::Window, resolve(m_back[i], QPalette::Window));
    palette.setColor(isEdit ? QPalette::Text : QPalette::WindowText, resolve(m_fore[i], QPalette::WindowText));
    widget->setPalette(palette);
}

void MainWindow::changeEvent(QEvent *event)
{
    // A system colour is a reference: when the desktop's palette changes, follow it.
    if (event->type() == QEvent::ApplicationPaletteChange)
        for (int i = 0; i < kControlCount; ++i)
            applyColors(Control(i));
    QWidget::changeEvent(event);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_cmdStart)
            m_game.cmdStart_GotFocus();
        else if (watched == m_cmdEnd)
            m_game.cmdEnd_GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mojitan
