// The end of a game: the report, the record, and the way back to the idle layout, with
// a clock the test controls.
#include "harness.h"
#include "report.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace mojitan;
using namespace mojitan::testing;

static QString q(const std::string &s) { return QString::fromStdString(s); }

namespace {

std::vector<int> wrongKeys(int total)
{
    std::vector<int> perLetter(26, 0);
    for (int i = 0; i < total; ++i)
        perLetter[std::size_t(i % 26)] += 1;
    return perLetter;
}

QString report(const Harness &h)
{
    return h.window.messages().empty() ? QString() : q(h.window.messages().back().text);
}

} // namespace

class FinishTest : public QObject {
    Q_OBJECT

private slots:
    void aCleanThirteenSecondGameReportsTheFourLinesAndSetsARecord()
    {
        Harness h;
        h.load();
        h.clock.time = 40000.25;
        h.playGame(13.0);

        QCOMPARE(h.window.messages().size(), std::size_t(1));
        const auto &box = h.window.messages().front();
        QCOMPARE(report(h), QStringLiteral("あなたの正解率は100%です。\r\n"
                                           "一文字あたりの速さ:500ミリ秒\r\n"
                                           "１時間で7200文字、打てます。\r\n"
                                           "原稿用紙にして、9枚です。"));
        QVERIFY(box.buttons == MessageButtons::Ok);
        QCOMPARE(q(box.title), QStringLiteral("モジタン"));

        QCOMPARE(h.store.writes, std::vector<std::string>{"500"});
        QCOMPARE(h.state().HiScore, 500.0f);
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("500ms"));
        QCOMPARE(h.window.control(Control::lblScore).fore, kPureRed);
        QCOMPARE(q(h.cues.played.back()), QStringLiteral("/opt/mojitan/sound/win.wav"));
    }

    void wrongKeysLowerTheAccuracyRoundedDown_data()
    {
        QTest::addColumn<int>("wrong");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("none") << 0 << "あなたの正解率は100%です。";
        QTest::newRow("one: 96.29") << 1 << "あなたの正解率は96%です。";
        QTest::newRow("four: 86.6") << 4 << "あなたの正解率は86%です。";
        QTest::newRow("twenty-six: 50") << 26 << "あなたの正解率は50%です。";
    }
    void wrongKeysLowerTheAccuracyRoundedDown()
    {
        QFETCH(int, wrong);
        QFETCH(QString, firstLine);
        Harness h;
        h.load();
        h.playGame(13.0, wrongKeys(wrong));
        QCOMPARE(h.state().Mode, ModeIdle);
        QCOMPARE(report(h).split("\r\n").value(0), firstLine);
        QCOMPARE(report(h).split("\r\n").value(1), QStringLiteral("一文字あたりの速さ:500ミリ秒"));
    }

    // robustness: 40 000 wrong keystrokes in a game | finishes and reports an accuracy of 0 % | the result and the best time
    void fortyThousandWrongKeysStillFinishWithAnAccuracyOfZero()
    {
        Harness h;
        h.load();
        std::vector<int> perLetter(26, 0);
        perLetter[0] = 40000;
        h.playGame(600.0, perLetter);
        QCOMPARE(h.window.messages().size(), std::size_t(1));
        QCOMPARE(report(h).split("\r\n").value(0), QStringLiteral("あなたの正解率は0%です。"));
        QCOMPARE(h.state().Mode, ModeIdle);
    }

    void anEqualTimeIsNotARecord()
    {
        Harness h;
        h.store.value = "500";
        h.load();
        h.playGame(13.0);
        QVERIFY(h.store.writes.empty());
        QCOMPARE(h.state().HiScore, 500.0f);
        for (const auto &path : h.cues.played)
            QVERIFY(path.find("win.wav") == std::string::npos);
        QVERIFY(h.window.control(Control::lblScore).fore != kPureRed);
    }

    void aSlowerGameIsNotARecordAndAFasterOneIs()
    {
        Harness h;
        h.store.value = "384";
        h.load();
        h.playGame(26.0); // 1000 ms a letter
        QVERIFY(h.store.writes.empty());
        h.playGame(9.9841); // 384 ms a letter: equal, still no record
        QVERIFY(h.store.writes.empty());
        h.playGame(9.9581); // 383 ms a letter
        QCOMPARE(h.store.writes, std::vector<std::string>{"383"});
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("383ms"));
    }

    // robustness: 500 timer ticks while the result box is open | one result box, one save | the best time, saved once
    void ticksDuringTheResultBoxNeverStartASecondFinish()
    {
        Harness h;
        h.load();
        int nested = 0;
        h.window.whileMessageBoxOpen = [&] {
            for (int i = 0; i < 500; ++i, ++nested)
                h.tick();
        };
        h.playGame(13.0);
        QCOMPARE(nested, 500);
        QCOMPARE(h.window.messages().size(), std::size_t(1));
        QCOMPARE(h.store.writes.size(), std::size_t(1));
        QCOMPARE(h.state().Mode, ModeIdle);
        // And the next game is a normal one.
        h.window.whileMessageBoxOpen = nullptr;
        h.playGame(13.0);
        QCOMPARE(h.window.messages().size(), std::size_t(2));
    }

    void theIdleLayoutReturnsAndEnterStartsTheNextGame()
    {
        Harness h;
        h.load();
        h.playGame(13.0);
        QCOMPARE(h.window.timerInterval(), 0);
        QVERIFY(!h.window.isShown(Control::Frame1));
        QVERIFY(!h.window.isShown(Control::lblMaru));
        for (Control c : {Control::cmdStart, Control::cmdEnd, Control::lblScore, Control::label1,
                          Control::Command1, Control::Label2, Control::lblMoji})
            QVERIFY(h.window.isShown(c));
        QVERIFY(!h.window.control(Control::txtMoji).enabled);
        QCOMPARE(q(h.shown()), QString());
        QCOMPARE(q(h.window.caption(Control::lblMaru)), QStringLiteral("正:0"));
        QCOMPARE(h.state().MojiLeft, 25);
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::cmdStart));

        h.window.clearOperations();
        h.tick();
        QVERIFY(h.window.operations().empty());

        QCOMPARE(h.window.pressEnter(), std::optional<Control>(Control::cmdStart));
        QCOMPARE(h.state().Mode, ModeDraw);
        // The record's red goes back to black when the next game starts.
        QCOMPARE(h.window.control(Control::lblScore).fore, kBlack);
    }

    void theFinishRunsItsStepsInOrder()
    {
        Harness h;
        h.load();
        h.window.replies = {kReplyOk};
        h.window.whileMessageBoxOpen = [&] {
            // While the box is open nothing has been saved and the tick still runs.
            QVERIFY(h.store.writes.empty());
            QCOMPARE(h.window.timerInterval(), 1);
        };
        h.playGame(13.0);
        using Kind = HeadlessWindow::Operation::Kind;
        std::vector<Kind> kinds;
        bool afterBox = false;
        for (const auto &op : h.window.operations()) {
            afterBox = afterBox || op.kind == Kind::MessageBox;
            if (afterBox)
                kinds.push_back(op.kind);
        }
        // Box, red score, timer off, InitGame's six writes, disable, frame, six shows, focus.
        const std::vector<Kind> expected = {
            Kind::MessageBox, Kind::ForeColor, Kind::Timer,   Kind::Caption, Kind::Enabled,
            Kind::Text,       Kind::Caption,   Kind::Caption, Kind::Caption, Kind::Enabled,
            Kind::Visible,    Kind::Visible,   Kind::Visible, Kind::Visible, Kind::Visible,
            Kind::Visible,    Kind::Visible,   Kind::Focus};
        QVERIFY(kinds == expected);
    }

    void aClockFaultNeverBecomesARecordOrACrash_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::newRow("negative: across midnight") << -86000.0;
        QTest::newRow("zero") << 0.0;
        QTest::newRow("too short to be real") << 0.0001;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
        QTest::newRow("minus infinite") << -std::numeric_limits<double>::infinity();
    }
    // robustness: a clock that jumps back across midnight, stands still, or reads NaN or infinity | reports the game, never records it | the previous best time
    void aClockFaultNeverBecomesARecordOrACrash()
    {
        QFETCH(double, elapsed);
        Harness h;
        h.load();
        h.playGame(elapsed);
        QCOMPARE(h.window.messages().size(), std::size_t(1));
        QVERIFY(h.store.writes.empty());
        QCOMPARE(h.state().HiScore, 1000.0f);
        QCOMPARE(h.state().Mode, ModeIdle);
        const QStringList lines = report(h).split("\r\n");
        QCOMPARE(lines.size(), 4);
        QVERIFY(!report(h).contains('-'));
    }

    void theFiguresFollowTheirDefinitions()
    {
        // 26 letters in 6.5 s: 250 ms each, 14400 an hour, 18 sheets of 800.
        GameFigures f = computeFigures(26, 0, 26, 6.5);
        QCOMPARE(f.msPerLetter, 250);
        QCOMPARE(f.lettersPerHour, 14400);
        QCOMPARE(f.sheets, 18);
        QVERIFY(f.measured);
        // Everything rounds down: 26 letters in 10 s is 384.6 ms and 9360 letters.
        f = computeFigures(26, 3, 26, 10.0);
        QCOMPARE(f.msPerLetter, 384);
        QCOMPARE(f.lettersPerHour, 9360);
        QCOMPARE(f.sheets, 11);
        QCOMPARE(f.accuracy, 89);
        // A game across a whole day still reports real digits.
        f = computeFigures(26, 0, 26, 90000.0);
        QCOMPARE(f.msPerLetter, 3461538);
        QCOMPARE(f.lettersPerHour, 1);
        QCOMPARE(f.sheets, 0);
    }

    // robustness: a record when the store refuses the write | shows and counts the record for the rest of the run | the record, in memory
    void aStoreThatCannotBeWrittenStillKeepsTheRecordForThisRun()
    {
        Harness h;
        h.store.writable = false;
        h.load();
        h.playGame(13.0);
        QCOMPARE(h.store.writes.size(), std::size_t(1));
        QCOMPARE(h.state().HiScore, 500.0f);
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("500ms"));
        h.playGame(13.0);
        QCOMPARE(h.store.writes.size(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(FinishTest)
#include "tst_finish.moc"
