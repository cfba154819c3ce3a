// The game in its real window, as a player meets it: keys go to whatever holds the focus,
// ticks come one at a time, and message boxes are answered with the keyboard.
#include "fakes.h"
#include "mainwindow.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <set>

using namespace mojitan;
using namespace mojitan::testing;

namespace {

const QColor kRed(255, 0, 0);
constexpr Control kPainted[] = {Control::Form1,   Control::Frame1, Control::lblMoji, Control::lblMaru,
                                Control::lblBatu, Control::label1, Control::lblScore};
constexpr Control kIdle[] = {Control::cmdStart, Control::cmdEnd,   Control::lblScore,
                             Control::label1,   Control::Command1, Control::Label2};
const QString kResult = QStringLiteral("モジタン|あなたの正解率は%1%です。\n一文字あたりの速さ:%2ミリ秒\n"
                                       "１時間で%3文字、打てます。\n原稿用紙にして、%4枚です。|1024|0");

} // namespace

class GameTest : public QObject {
    Q_OBJECT

    FakeClock clock;
    ScriptedRandom random;
    RecordingCues cues;
    MemoryStore store;
    std::unique_ptr<MainWindow> w;
    QStringList boxes; // each box shown, as title|text|buttons|icon
    int reply = Qt::Key_Return;
    QTimer answerer;

    QWidget *get(Control c) { return w->control(c); }
    QLineEdit *edit() { return static_cast<QLineEdit *>(get(Control::txtMoji)); }
    QString text(Control c)
    {
        auto *label = qobject_cast<QLabel *>(get(c));
        return label ? label->text() : edit()->text();
    }
    const GameState &state() { return w->game().state(); }
    void tick() { w->game().Timer1_Timer(); }
    // Keys go to the window, which hands them to its focus holder.
    void press(int key) { QTest::keyClick(w->windowHandle(), Qt::Key(key)); }
    void type(const QString &keys)
    {
        for (QChar c : keys)
            QTest::sendKeyEvent(QTest::Click, w->windowHandle(), Qt::Key(c.toUpper().unicode()), c, {});
    }
    std::string cue(const char *name) { return QCoreApplication::applicationDirPath().toStdString() + "/sound/" + name; }
    bool painted(const QColor &colour)
    {
        return std::all_of(std::begin(kPainted), std::end(kPainted),
                           [&](Control c) { return get(c)->palette().color(QPalette::Window) == colour; });
    }
    bool idle()
    {
        return get(Control::Frame1)->isHidden() && !edit()->isEnabled() && edit()->text().isEmpty()
            && w->focusWidget() == get(Control::cmdStart) && !w->timer().isActive()
            && std::none_of(std::begin(kIdle), std::end(kIdle), [&](Control c) { return get(c)->isHidden(); });
    }
    void open(const QString &stored = {})
    {
        store = {};
        if (!stored.isNull())
            store.value = stored.toStdString();
        cues.played.clear();
        boxes.clear();
        w = std::make_unique<MainWindow>(clock, random, cues, store);
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }

private slots:
    void init()
    {
        // Any warning is a fault, but the offscreen platform's own note about size hints.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support).*")));
        random.values = {0.0f};
        reply = Qt::Key_Return;
        // Answers a box a while after it opened, so the running timer ticks meanwhile.
        answerer.setInterval(50);
        answerer.callOnTimeout(this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << QStringLiteral("%1|%2|%3|%4").arg(box->windowTitle(), box->text())
                                 .arg(int(box->standardButtons())).arg(int(box->icon()));
                QTest::keyClick(box, Qt::Key(reply));
                QApplication::setActiveWindow(w.get()); // as a window manager would
            }
        });
        answerer.start();
    }
    void cleanup() { w.reset(); }

    void theWindowOpensAsDrawn()
    {
        open();
        QCOMPARE(w->windowTitle(), QStringLiteral("モジタン"));
        QCOMPARE(w->minimumSize(), QSize(104, 60));
        QCOMPARE(w->maximumSize(), QSize(104, 60));
        QCOMPARE(w->windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint), Qt::WindowCloseButtonHint);
        struct Row { Control control; QRect rect; const char *caption; double points; };
        const Row rows[] = {
            {Control::lblMoji, {0, 8, 57, 49}, "", 36},           {Control::cmdStart, {64, 0, 33, 17}, "スタート", 5.25},
            {Control::cmdEnd, {64, 16, 33, 17}, "終了", 5.25},      {Control::Frame1, {48, 0, 49, 57}, "成績", 9},
            {Control::txtMoji, {16, 128, 33, 30}, "", 20.25},     {Control::lblBatu, {8, 16, 33, 17}, "誤:0", 9},
            {Control::lblMaru, {8, 32, 33, 17}, "正:0", 9},        {Control::label1, {48, 32, 41, 9}, "ハイスコア", 6},
            {Control::lblScore, {56, 40, 41, 11}, "1000ms", 8.25}, {Control::Command1, {48, 48, 49, 12}, "スコア消去", 6},
            {Control::Label2, {8, 8, 41, 41}, "Enterで開始します。", 9},
        };
        for (const Row &row : rows) {
            QWidget *c = get(row.control);
            const QString caption = qobject_cast<QPushButton *>(c) ? static_cast<QPushButton *>(c)->text()
                : qobject_cast<QGroupBox *>(c)                      ? static_cast<QGroupBox *>(c)->title()
                                                                    : text(row.control);
            QCOMPARE(c->geometry(), row.rect);
            QCOMPARE(caption, QString::fromUtf8(row.caption));
            QCOMPARE(c->font().pointSizeF(), row.points);
            QCOMPARE(c->parentWidget(), get(row.control == Control::lblBatu || row.control == Control::lblMaru ? Control::Frame1 : Control::Form1));
        }
        QVERIFY(get(Control::cmdStart)->font().italic() && !get(Control::cmdEnd)->font().italic());
        QCOMPARE(static_cast<QLabel *>(get(Control::lblMoji))->alignment(), Qt::AlignHCenter | Qt::AlignTop);
        QCOMPARE(static_cast<QLabel *>(get(Control::lblScore))->alignment(), Qt::AlignRight | Qt::AlignTop);
        QVERIFY(get(Control::cmdStart)->toolTip().startsWith(QStringLiteral("スタートボタンを押したら")));
        // Back to front: the hint over the letter, the frame over both, the clear button on top.
        QStringList stack;
        for (QWidget *c : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            stack << c->objectName();
        QCOMPARE(stack.join(u' '), QStringLiteral("lblMoji label1 lblScore Label2 cmdStart cmdEnd Frame1 txtMoji Command1"));
        QVERIFY(idle());
        for (Control next : {Control::cmdEnd, Control::Command1, Control::cmdStart}) {
            press(Qt::Key_Tab);
            QCOMPARE(w->focusWidget(), get(next));
        }
    }

    void aWholeGame_data()
    {
        QTest::addColumn<float>("draw");     // every random value the deck is drawn with
        QTest::addColumn<int>("wrong");      // wrong keys typed on the first letter
        QTest::addColumn<double>("seconds"); // the clock at the finish, from the start
        QTest::addColumn<QString>("stored"); // the best time before the game
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("figures");
        QTest::addColumn<QString>("best"); // the best time afterwards
        QTest::addColumn<bool>("record");
        const QString none;
        QTest::newRow("a clean 13 s game is a record") << 0.0f << 0 << 13.0 << none << true << "100 500 7200 9" << "500" << true;
        QTest::newRow("four wrong keys") << 0.5f << 4 << 13.0 << none << true << "86 500 7200 9" << "500" << true;
        QTest::newRow("accuracy rounds down") << 0.99999994f << 1 << 13.0 << "600" << true << "96 500 7200 9" << "500" << true;
        QTest::newRow("a generator that returns 1") << 1.0f << 0 << 26.0 << none << true << "100 1000 3600 4" << "1000" << false;
        QTest::newRow("an equal time is no record") << 0.3f << 0 << 13.0 << "500" << true << "100 500 7200 9" << "500" << false;
        QTest::newRow("a slower game is no record") << 0.0f << 0 << 13.0 << "384" << true << "100 500 7200 9" << "384" << false;
        // robustness: a clock that jumps back across midnight, stands still, or reads NaN | reports the game, never records it | the previous best time
        QTest::newRow("clock back at midnight") << 0.0f << 0 << -86000.0 << none << true << "100 1 3600000 4500" << "1000" << false;
        QTest::newRow("clock stands still") << 0.0f << 0 << 0.0 << none << true << "100 1 3600000 4500" << "1000" << false;
        QTest::newRow("clock reads NaN") << 0.0f << 0 << double(NAN) << none << true << "100 1 3600000 4500" << "1000" << false;
        // robustness: a record when the store refuses the write | shows and counts the record for the rest of the run | the record, in memory
        QTest::newRow("the store refuses") << 0.0f << 0 << 13.0 << none << false << "100 500 7200 9" << "500" << true;
        // robustness: 40 000 wrong keystrokes on one letter | the wrong count stops at 32767; the game finishes with an accuracy of 0 % | the game and the best time
        QTest::newRow("40000 wrong keys") << 0.0f << 40000 << 13.0 << none << true << "0 500 7200 9" << "500" << true;
    }
    // robustness: timer ticks while the result box is open | one result box, one save | the best time, saved once
    void aWholeGame()
    {
        QFETCH(float, draw); QFETCH(int, wrong); QFETCH(double, seconds); QFETCH(QString, stored);
        QFETCH(bool, writable); QFETCH(QString, figures); QFETCH(QString, best); QFETCH(bool, record);
        open(stored);
        store.writable = writable;
        random.values = {draw};
        const QColor base = get(Control::Form1)->palette().color(QPalette::Window);
        clock.time = 50000;
        press(Qt::Key_Return); // the start button holds the focus
        QVERIFY(!get(Control::Frame1)->isHidden() && edit()->isEnabled() && w->timer().isActive());
        w->timer().stop(); // the test ticks, until the result box
        QVERIFY(std::all_of(std::begin(kIdle), std::end(kIdle), [&](Control c) { return get(c)->isHidden(); }));
        std::set<QString> seen;
        for (int n = 1; n <= 26; ++n) {
            tick();
            const QString letter = text(Control::lblMoji);
            QVERIFY2(letter.size() == 1 && letter >= "a" && letter <= "z" && seen.insert(letter).second, qPrintable(letter));
            QCOMPARE(w->focusWidget(), edit());
            for (int i = 0; n == 1 && i < wrong; ++i) {
                type(letter.toUpper());
                tick();
                QVERIFY(i > 0 || (painted(kRed) && cues.played.back() == cue("wrong.wav") && text(Control::lblMoji) == letter && edit()->text().isEmpty()));
            }
            if (n == 1 && wrong)
                QCOMPARE(text(Control::lblBatu), QStringLiteral("誤：%1").arg(std::min(wrong, 32767)));
            type(letter);
            tick();
            QCOMPARE(text(Control::lblMaru), QStringLiteral("正：%1").arg(n));
            QVERIFY(painted(base) && edit()->text().isEmpty());
            QCOMPARE(cues.played.back(), cue("key.wav"));
        }
        tick(); // finds the deck empty
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("; ")));
        clock.time += seconds;
        w->timer().start();
        tick();
        const QStringList f = figures.split(u' ');
        QCOMPARE(boxes, QStringList{kResult.arg(f[0], f[1], f[2], f[3])});
        QCOMPARE(cues.played.back() == cue("win.wav"), record);
        QCOMPARE(text(Control::lblScore), best + "ms");
        QCOMPARE(get(Control::lblScore)->palette().color(QPalette::WindowText) == kRed, record);
        QCOMPARE(store.value.value_or("none"), (record && writable ? best : stored.isNull() ? "none" : stored).toStdString());
        QVERIFY(idle());
        QVERIFY(text(Control::lblMoji).isEmpty() && text(Control::lblMaru) == "正:0" && text(Control::lblBatu) == "誤:0");
        tick();
        QCOMPARE(state().Mode, ModeIdle);
        press(Qt::Key_Return); // the next game starts at once, its best time in black again
        QVERIFY(state().Mode != ModeIdle && w->timer().isActive());
        QCOMPARE(get(Control::lblScore)->palette().color(QPalette::WindowText), QColor(Qt::black));
    }

    void judging_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("outcome"); // 1 right, -1 wrong, 0 nothing happens
        QTest::newRow("the letter shown") << "a" << 1;
        QTest::newRow("nothing typed yet") << "" << 0;
        QTest::newRow("upper case") << "A" << -1;
        QTest::newRow("two keys before a tick") << "aa" << -1;
        QTest::newRow("full width") << "ａ" << -1;
        QTest::newRow("a control character") << "\x01" << -1;
        QTest::newRow("a 1 MB paste") << QString(1 << 20, u'a') << -1;
    }
    // robustness: typed text that is upper case, two characters, full-width, a control character or a 1 MB paste | one wrong keystroke; the box is cleared and the same letter stays | the counts and the letter
    void judging()
    {
        QFETCH(QString, typed); QFETCH(int, outcome);
        open();
        press(Qt::Key_Return);
        tick();
        edit()->insert(typed);
        tick();
        QCOMPARE(state().MaruCount, outcome > 0 ? 1 : 0);
        QCOMPARE(state().BatuCount, outcome < 0 ? 1 : 0);
        QCOMPARE(state().Mode, outcome > 0 ? ModeDraw : ModeAwait);
        QCOMPARE(cues.played.size(), std::size_t(outcome != 0));
        QVERIFY(edit()->text().isEmpty() && text(Control::lblMoji) == "a");
    }

    void theStoredBestIsShownAtStart_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nothing stored") << QString() << "1000ms";
        QTest::newRow("a record") << "384" << "384ms";
        QTest::newRow("edited by hand") << "384.5" << "384.5ms";
        for (const char *bad : {"", "abc", "NaN", "inf", "-5", "0", "1e39", "\x01\x02"})
            QTest::newRow(bad) << bad << "1000ms";
    }
    // robustness: a stored best time that is empty, letters, "NaN", "inf", negative, zero, too large for a float or binary | starts with 1000 ms, as on a first run | loading never writes the store
    void theStoredBestIsShownAtStart()
    {
        QFETCH(QString, stored); QFETCH(QString, shown);
        open(stored);
        QCOMPARE(text(Control::lblScore), shown);
        QCOMPARE(store.value.value_or("none"), stored.isNull() ? "none" : stored.toStdString());
    }

    void theClearQuestion_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("best");
        QTest::newRow("Escape answers no") << int(Qt::Key_Escape) << "384";
        QTest::newRow("Enter answers yes") << int(Qt::Key_Return) << "1000";
    }
    void theClearQuestion()
    {
        QFETCH(int, key); QFETCH(QString, best);
        open("384");
        reply = key;
        QTest::mouseClick(get(Control::Command1), Qt::LeftButton);
        QCOMPARE(boxes, QStringList{QStringLiteral("モジタン|ハイスコアを初期化しますか？|%1|0").arg(int(QMessageBox::Yes | QMessageBox::No))});
        QCOMPARE(text(Control::lblScore), best + "ms");
        QCOMPARE(store.value, best.toStdString());
        QVERIFY(idle());
    }
};

QTEST_MAIN(GameTest)
#include "tst_game.moc"
