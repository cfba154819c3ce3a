// The window as a player meets it: keys go to whatever holds the focus, the real timer
// ticks, and message boxes are answered with the keyboard.
#include "fakes.h"
#include "mainwindow.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <functional>

using namespace mojitan;
using namespace mojitan::testing;

namespace {

const QColor kRed(255, 0, 0);

struct Fixture {
    explicit Fixture(std::optional<std::string> stored = std::nullopt)
    {
        store.value = std::move(stored);
        window = std::make_unique<MainWindow>(clock, random, cues, store);
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    ~Fixture()
    {
        window.reset();
    }

    template <typename T = QWidget> T *get(Control c) const { return qobject_cast<T *>(window->control(c)); }
    QString shown() const { return get<QLabel>(Control::lblMoji)->text(); }
    // The window's focus holder: where its keys go whenever it is active.
    QWidget *focus() const { return window->focusWidget(); }
    QColor background(Control c) const { return window->control(c)->palette().color(QPalette::Window); }

    // Types as a player does: to the window, which hands the key to its focus holder.
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(window->windowHandle(), k, mods);
    }
    void typeLetter(const QString &letter)
    {
        QTest::keyClick(window->windowHandle(), letter.at(0).toLatin1());
    }
    // Waits for the tick to show a letter different from `previous`.
    QString waitForLetter(const QString &previous = {})
    {
        QString letter;
        (void)QTest::qWaitFor([&] {
            letter = shown();
            return !letter.isEmpty() && letter != previous && window->game().state().Mode == ModeAwait;
        }, 2000);
        return letter;
    }

    FakeClock clock;
    ScriptedRandom random;
    RecordingCues cues;
    MemoryStore store;
    std::unique_ptr<MainWindow> window;
};

// Answers the next message box with a key, once it is open, and keeps what it said.
struct BoxAnswer {
    QString text;
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool hasIcon = true;
    int seen = 0;
};

void answerBoxes(BoxAnswer &answer, Qt::Key key)
{
    auto *poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &answer, key] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        ++answer.seen;
        answer.text = box->text();
        answer.title = box->windowTitle();
        answer.buttons = box->standardButtons();
        answer.defaultButton = box->standardButton(box->defaultButton());
        answer.hasIcon = box->icon() != QMessageBox::NoIcon;
        QTest::keyClick(box, key);
        poll->deleteLater();
    });
    poll->start();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // Any warning is a fault, but for the offscreen platform's note that it cannot
        // pass size hints to a window manager it does not have.
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("^(?!This plugin does not support propagateSizeHints).*")));
    }

    void theWindowIsTinyFixedAndTitled()
    {
        Fixture f;
        MainWindow &w = *f.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("モジタン"));
        QCOMPARE(w.size(), QSize(104, 60));
        QCOMPARE(w.minimumSize(), QSize(104, 60));
        QCOMPARE(w.maximumSize(), QSize(104, 60));
        const Qt::WindowFlags flags = w.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    }

    void everyControlSitsInItsRectangleAndContainer_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("parent");
        QTest::newRow("lblMoji") << int(Control::lblMoji) << "lblMoji" << QRect(0, 8, 57, 49) << "Form1";
        QTest::newRow("cmdStart") << int(Control::cmdStart) << "cmdStart" << QRect(64, 0, 33, 17) << "Form1";
        QTest::newRow("cmdEnd") << int(Control::cmdEnd) << "cmdEnd" << QRect(64, 16, 33, 17) << "Form1";
        QTest::newRow("Frame1") << int(Control::Frame1) << "Frame1" << QRect(48, 0, 49, 57) << "Form1";
        QTest::newRow("txtMoji") << int(Control::txtMoji) << "txtMoji" << QRect(16, 128, 33, 30) << "Form1";
        QTest::newRow("lblBatu") << int(Control::lblBatu) << "lblBatu" << QRect(8, 16, 33, 17) << "Frame1";
        QTest::newRow("lblMaru") << int(Control::lblMaru) << "lblMaru" << QRect(8, 32, 33, 17) << "Frame1";
        QTest::newRow("label1") << int(Control::label1) << "label1" << QRect(48, 32, 41, 9) << "Form1";
        QTest::newRow("lblScore") << int(Control::lblScore) << "lblScore" << QRect(56, 40, 41, 11) << "Form1";
        QTest::newRow("Command1") << int(Control::Command1) << "Command1" << QRect(48, 48, 49, 12) << "Form1";
        QTest::newRow("Label2") << int(Control::Label2) << "Label2" << QRect(8, 8, 41, 41) << "Form1";
    }
    void everyControlSitsInItsRectangleAndContainer()
    {
        QFETCH(int, control);
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QFETCH(QString, parent);
        Fixture f;
        QWidget *w = f.window->control(Control(control));
        QCOMPARE(w->objectName(), name);
        QCOMPARE(w->geometry(), rect);
        QCOMPARE(w->parentWidget()->objectName(), parent);
    }

    void captionsFontsAndAlignmentsAreAsDrawn()
    {
        Fixture f;
        struct Expect { Control c; QString text; double points; bool italic; };
        const Expect expected[] = {
            {Control::cmdStart, "スタート", 5.25, true},
            {Control::cmdEnd, "終了", 5.25, false},
            {Control::label1, "ハイスコア", 6, false},
            {Control::lblScore, "1000ms", 8.25, false},
            {Control::Command1, "スコア消去", 6, false},
            {Control::lblMoji, "", 36, false},
        };
        for (const Expect &e : expected) {
            QWidget *w = f.window->control(e.c);
            const QString text = qobject_cast<QLabel *>(w) ? qobject_cast<QLabel *>(w)->text()
                                                          : qobject_cast<QPushButton *>(w)->text();
            QCOMPARE(text, e.text);
            QCOMPARE(w->font().pointSizeF(), e.points);
            QCOMPARE(w->font().italic(), e.italic);
            QCOMPARE(w->font().weight(), QFont::Normal);
            // Where the first face is missing, a proportional Japanese gothic stands in.
            const QString family = QFontInfo(w->font()).family();
            QVERIFY2(family == QStringLiteral("IPAPGothic") || family.contains(QStringLiteral("ＭＳ Ｐゴシック"))
                         || family.contains(QStringLiteral("Noto Sans CJK")),
                     qPrintable(family));
        }
        QCOMPARE(f.get<QLineEdit>(Control::txtMoji)->font().pointSizeF(), 20.25);
        QCOMPARE(f.get<QGroupBox>(Control::Frame1)->title(), QStringLiteral("成績"));
        QCOMPARE(f.get<QLabel>(Control::Label2)->text(), QStringLiteral("Enterで開始します。"));
        QCOMPARE(f.get<QLabel>(Control::lblBatu)->text(), QStringLiteral("誤:0"));
        QCOMPARE(f.get<QLabel>(Control::lblMaru)->text(), QStringLiteral("正:0"));
        QCOMPARE(f.get<QLabel>(Control::lblMoji)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(f.get<QLabel>(Control::lblScore)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        QCOMPARE(f.get<QLabel>(Control::label1)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        QCOMPARE(f.get<QPushButton>(Control::cmdStart)->toolTip(),
                 QStringLiteral("スタートボタンを押したら、表示されている文字を、タイピングして下さい。"));
    }

    void theStackingOrderPutsTheHintOverTheLetterAndTheFrameOverIt()
    {
        Fixture f;
        // A parent's children are listed back to front.
        QStringList order;
        for (QObject *child : f.window->children())
            if (auto *w = qobject_cast<QWidget *>(child); w && !w->objectName().isEmpty()
                && !w->isWindow())
                order.prepend(w->objectName());
        QCOMPARE(order, (QStringList{"Command1", "txtMoji", "Frame1", "cmdEnd", "cmdStart", "Label2",
                                     "lblScore", "label1", "lblMoji"}));
        QStringList inFrame;
        for (QObject *child : f.window->control(Control::Frame1)->children())
            if (auto *w = qobject_cast<QWidget *>(child))
                inFrame.prepend(w->objectName());
        QCOMPARE(inFrame, (QStringList{"lblMaru", "lblBatu"}));
        // In the idle layout the hint is what a click on the letter area meets.
        QCOMPARE(f.window->childAt(20, 20)->objectName(), QStringLiteral("Label2"));
    }

    void theIdleLayoutHidesTheFrameAndFocusesTheStartButton()
    {
        Fixture f;
        QVERIFY(!f.window->control(Control::Frame1)->isVisible());
        QVERIFY(!f.window->control(Control::lblMaru)->isVisible());
        QVERIFY(!f.window->control(Control::lblBatu)->isVisible());
        QWidget *txt = f.window->control(Control::txtMoji);
        QVERIFY(txt->isVisible());
        QVERIFY(!txt->isEnabled());
        QVERIFY(f.get<QLineEdit>(Control::txtMoji)->text().isEmpty());
        QVERIFY(!f.window->rect().intersects(txt->geometry()));
        QCOMPARE(f.focus(), f.window->control(Control::cmdStart));
    }

    void tabCyclesTheThreeButtonsWhileTheBoxIsDisabled()
    {
        Fixture f;
        const Control cycle[] = {Control::cmdEnd, Control::Command1, Control::cmdStart, Control::cmdEnd};
        for (Control next : cycle) {
            f.key(Qt::Key_Tab);
            QCOMPARE(f.focus(), f.window->control(next));
        }
    }

    void aWholeGameAsAPlayerPlaysIt()
    {
        Fixture f;
        MainWindow &w = *f.window;
        const QColor face = f.background(Control::Form1);
        QVERIFY(face != kRed);

        f.key(Qt::Key_Return);
        QVERIFY(w.control(Control::Frame1)->isVisible());
        for (Control c : {Control::cmdStart, Control::cmdEnd, Control::lblScore, Control::label1,
                          Control::Command1, Control::Label2})
            QVERIFY(!w.control(c)->isVisible());
        QCOMPARE(w.timer().interval(), 1);
        QVERIFY(w.timer().isActive());

        QString letter = f.waitForLetter();
        QVERIFY(!letter.isEmpty());
        QCOMPARE(f.focus(), w.control(Control::txtMoji));

        // A wrong letter, then the right one in upper case: both wrong, both red.
        f.typeLetter(letter == "q" ? "w" : "q");
        QTRY_COMPARE(f.get<QLabel>(Control::lblBatu)->text(), QStringLiteral("誤：1"));
        f.typeLetter(letter.toUpper());
        QTRY_COMPARE(f.get<QLabel>(Control::lblBatu)->text(), QStringLiteral("誤：2"));
        for (Control c : {Control::Form1, Control::Frame1, Control::lblMoji, Control::lblMaru,
                          Control::lblBatu, Control::label1, Control::lblScore})
            QCOMPARE(f.background(c), kRed);
        QCOMPARE(f.shown(), letter);
        QVERIFY(f.get<QLineEdit>(Control::txtMoji)->text().isEmpty());

        // The right key brings the palette's own colour back.
        f.typeLetter(letter);
        QTRY_COMPARE(f.get<QLabel>(Control::lblMaru)->text(), QStringLiteral("正：1"));
        for (Control c : {Control::Form1, Control::Frame1, Control::lblMoji, Control::lblMaru})
            QCOMPARE(f.background(c), face);

        // The result box opens a tick or two after the last key, inside whatever event
        // loop is running then, so its answer is ready before that key.
        BoxAnswer box;
        for (int i = 1; i < 26; ++i) {
            letter = f.waitForLetter(letter);
            QVERIFY(!letter.isEmpty());
            if (i == 25) {
                f.clock.time += 13.0; // the game took 13 s in all
                answerBoxes(box, Qt::Key_Return);
            }
            f.typeLetter(letter);
            if (i < 25)
                QTRY_COMPARE(f.get<QLabel>(Control::lblMaru)->text(), QStringLiteral("正：%1").arg(i + 1));
        }
        // The last key is followed at once by the report and the reset.
        QTRY_VERIFY_WITH_TIMEOUT(w.game().state().Mode == ModeIdle, 5000);
        QCOMPARE(box.seen, 1);
        QCOMPARE(box.title, QStringLiteral("モジタン"));
        QVERIFY(!box.hasIcon);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.text.split('\n'),
                 (QStringList{"あなたの正解率は92%です。", "一文字あたりの速さ:500ミリ秒",
                              "１時間で7200文字、打てます。", "原稿用紙にして、9枚です。"}));
        QVERIFY(!box.text.contains('\r'));

        // The record is kept and shown in red; the idle layout is back.
        QCOMPARE(f.store.value, std::optional<std::string>("500"));
        QCOMPARE(f.get<QLabel>(Control::lblScore)->text(), QStringLiteral("500ms"));
        QCOMPARE(w.control(Control::lblScore)->palette().color(QPalette::WindowText), kRed);
        QVERIFY(f.cues.played.back().ends_with("/sound/win.wav"));
        QVERIFY(!w.timer().isActive());
        QVERIFY(!w.control(Control::Frame1)->isVisible());
        QVERIFY(w.control(Control::Label2)->isVisible());
        QVERIFY(!w.control(Control::txtMoji)->isEnabled());
        QCOMPARE(f.focus(), w.control(Control::cmdStart));

        // Enter starts the next game, and the score's red goes back to black.
        f.key(Qt::Key_Return);
        QVERIFY(!f.waitForLetter().isEmpty());
        QCOMPARE(w.control(Control::lblScore)->palette().color(QPalette::WindowText), QColor(Qt::black));
    }

    // robustness: a 1 MB paste into the window during a game | one wrong keystroke; the box is emptied; the next right key counts | the game and the letter shown
    void aMegabytePasteIsOneWrongKeyAndLeavesTheBoxEmpty()
    {
        Fixture f;
        f.key(Qt::Key_Return);
        const QString letter = f.waitForLetter();
        QApplication::clipboard()->setText(QString(1 << 20, QChar(letter.at(0))));
        f.key(Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(f.get<QLabel>(Control::lblBatu)->text(), QStringLiteral("誤：1"));
        QVERIFY(f.get<QLineEdit>(Control::txtMoji)->text().isEmpty());
        QCOMPARE(f.shown(), letter);
        f.typeLetter(letter);
        QTRY_COMPARE(f.get<QLabel>(Control::lblMaru)->text(), QStringLiteral("正：1"));
    }

    void whileAwaitingAKeyTheButtonsHandTheFocusBack()
    {
        Fixture f;
        f.key(Qt::Key_Return);
        QVERIFY(!f.waitForLetter().isEmpty());
        QWidget *end = f.window->control(Control::cmdEnd);
        end->show(); // only so that it can take the focus at all
        end->setFocus(Qt::MouseFocusReason);
        QCOMPARE(f.focus(), f.window->control(Control::txtMoji));
    }

    void theClearQuestionAsksAndOnlyYesResets()
    {
        Fixture f(std::string("384"));
        QCOMPARE(f.get<QLabel>(Control::lblScore)->text(), QStringLiteral("384ms"));

        BoxAnswer no;
        answerBoxes(no, Qt::Key_N); // the No button's shortcut... or Escape
        QTest::mouseClick(f.window->control(Control::Command1), Qt::LeftButton);
        QCOMPARE(no.seen, 1);
        QCOMPARE(no.text, QStringLiteral("ハイスコアを初期化しますか？"));
        QCOMPARE(no.title, QStringLiteral("モジタン"));
        QCOMPARE(no.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(no.defaultButton, QMessageBox::Yes);
        QVERIFY(!no.hasIcon);
        QCOMPARE(f.window->game().state().Answer, kReplyNo);
        QCOMPARE(f.store.value, std::optional<std::string>("384"));
        QCOMPARE(f.get<QLabel>(Control::lblScore)->text(), QStringLiteral("384ms"));
        QCOMPARE(f.focus(), f.window->control(Control::cmdStart));

        BoxAnswer yes;
        answerBoxes(yes, Qt::Key_Return); // Enter answers Yes
        QTest::mouseClick(f.window->control(Control::Command1), Qt::LeftButton);
        QCOMPARE(yes.seen, 1);
        QCOMPARE(f.window->game().state().Answer, kReplyYes);
        QCOMPARE(f.store.value, std::optional<std::string>("1000"));
        QCOMPARE(f.get<QLabel>(Control::lblScore)->text(), QStringLiteral("1000ms"));
        QCOMPARE(f.focus(), f.window->control(Control::cmdStart));

        // And Enter starts a game from there (the running tick may already have drawn).
        f.key(Qt::Key_Return);
        QVERIFY(f.window->game().state().Mode != ModeIdle);
        QVERIFY(f.window->control(Control::Frame1)->isVisible());
    }

    void screenReadersFindTheCaptionsAndTheLetterShown()
    {
        Fixture f;
        auto nameOf = [&](Control c) {
            return QAccessible::queryAccessibleInterface(f.window->control(c))->text(QAccessible::Name);
        };
        QCOMPARE(nameOf(Control::cmdStart), QStringLiteral("スタート"));
        QCOMPARE(nameOf(Control::Command1), QStringLiteral("スコア消去"));
        QCOMPARE(nameOf(Control::lblScore), QStringLiteral("1000ms"));
        QCOMPARE(nameOf(Control::Label2), QStringLiteral("Enterで開始します。"));

        f.key(Qt::Key_Return);
        const QString letter = f.waitForLetter();
        QCOMPARE(nameOf(Control::lblMoji), letter);
    }

    void theEndButtonClosesTheProgram()
    {
        Fixture f;
        QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
        f.key(Qt::Key_Tab);
        QCOMPARE(f.focus(), f.window->control(Control::cmdEnd));
        QEventLoop loop; // stands in for the application's own loop, which the click ends
        QTimer::singleShot(0, &loop, [&] { f.key(Qt::Key_Return); });
        QTimer::singleShot(5000, &loop, [&] { loop.exit(1); });
        QCOMPARE(loop.exec(), 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
