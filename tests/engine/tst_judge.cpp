// Judging a keystroke: what counts as right, what the player sees and hears, and the
// colours in the order they change.
#include "harness.h"

#include <QtTest>

using namespace mojitan;
using namespace mojitan::testing;

static QString q(const std::string &s) { return QString::fromStdString(s); }

namespace {

const Color kButtonFace = Color::system(Color::System::ButtonFace);

// The background changes the game made, in order.
std::vector<std::pair<Control, Color>> backgroundChanges(const HeadlessWindow &w)
{
    std::vector<std::pair<Control, Color>> changes;
    for (const auto &op : w.operations())
        if (op.kind == HeadlessWindow::Operation::Kind::BackColor)
            changes.emplace_back(op.control, op.color);
    return changes;
}

std::vector<std::pair<Control, Color>> allSevenIn(Color color)
{
    std::vector<std::pair<Control, Color>> expected;
    for (Control c : {Control::Form1, Control::Frame1, Control::lblMoji, Control::lblMaru,
                      Control::lblBatu, Control::label1, Control::lblScore})
        expected.emplace_back(c, color);
    return expected;
}

// A started game showing its first letter.
struct Started : Harness {
    explicit Started(float r = 0.0f)
    {
        load();
        random.values = {r};
        window.pressEnter();
        tick();
    }
};

} // namespace

class JudgeTest : public QObject {
    Q_OBJECT

private slots:
    void aTickWithNothingTypedChangesNothing()
    {
        Started h;
        h.window.clearOperations();
        for (int i = 0; i < 50; ++i)
            h.tick();
        QVERIFY(h.window.operations().empty());
        QCOMPARE(h.state().Mode, ModeAwait);
        QVERIFY(h.cues.played.empty());
    }

    void theShownLetterIsRight()
    {
        Started h(0.0f);
        h.window.clearOperations();
        h.typeAndJudge("a");
        QCOMPARE(h.state().MaruCount, 1);
        QCOMPARE(h.state().BatuCount, 0);
        QCOMPARE(q(h.window.caption(Control::lblMaru)), QStringLiteral("正：1"));
        QCOMPARE(h.state().Mode, ModeDraw);
        QCOMPARE(q(h.window.text(Control::txtMoji)), QString());
        QCOMPARE(h.cues.played, std::vector<std::string>{"/opt/mojitan/sound/key.wav"});
        QVERIFY(backgroundChanges(h.window) == allSevenIn(kButtonFace));
        h.tick();
        QCOMPARE(h.state().Mode, ModeAwait);
        QVERIFY(h.shown() != "a");
    }

    void anythingElseIsWrongAndTheSameLetterStays_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("another letter") << "b";
        QTest::newRow("upper case") << "A";
        QTest::newRow("two keys before a tick") << "aa";
        QTest::newRow("the letter and more") << "ab";
        QTest::newRow("full-width a") << "ａ";
        QTest::newRow("a space") << " ";
        QTest::newRow("a control character") << "\x01";
        QTest::newRow("a megabyte paste") << QString(1 << 20, QChar('a'));
    }
    // robustness: typed text that is upper case, two characters, full-width, a control character or a 1 MB paste | one wrong keystroke; the box is cleared and the same letter stays | the counts and the letter
    void anythingElseIsWrongAndTheSameLetterStays()
    {
        QFETCH(QString, typed);
        Started h(0.0f);
        h.window.clearOperations();
        h.typeAndJudge(typed.toStdString());
        QCOMPARE(h.state().BatuCount, 1);
        QCOMPARE(h.state().MaruCount, 0);
        QCOMPARE(q(h.window.caption(Control::lblBatu)), QStringLiteral("誤：1"));
        QCOMPARE(h.state().Mode, ModeAwait);
        QCOMPARE(q(h.shown()), QStringLiteral("a"));
        QCOMPARE(q(h.window.text(Control::txtMoji)), QString());
        QCOMPARE(h.cues.played, std::vector<std::string>{"/opt/mojitan/sound/wrong.wav"});
        QVERIFY(backgroundChanges(h.window) == allSevenIn(kPureRed));
        QCOMPARE(kPureRed.value(), 255u);
    }

    void theKeyIsJudgedAgainstTheLetterShownNotTheOneDrawn()
    {
        Started h(0.0f);
        QCOMPARE(q(h.state().CurMoji), QStringLiteral("a"));
        h.window.setCaption(Control::lblMoji, "k");
        h.typeAndJudge("a");
        QCOMPARE(h.state().BatuCount, 1);
        h.typeAndJudge("k");
        QCOMPARE(h.state().MaruCount, 1);
    }

    void theWindowStaysRedUntilTheRightKeyAndTheCountsAddUp()
    {
        Started h(0.0f);
        h.typeAndJudge("x");
        h.typeAndJudge("y");
        QCOMPARE(q(h.window.caption(Control::lblBatu)), QStringLiteral("誤：2"));
        for (Control c : {Control::Form1, Control::Frame1, Control::lblMoji, Control::lblMaru,
                          Control::lblBatu, Control::label1, Control::lblScore})
            QCOMPARE(h.window.backColor(c), kPureRed);
        h.window.clearOperations();
        h.typeAndJudge("a");
        QVERIFY(backgroundChanges(h.window) == allSevenIn(kButtonFace));
        // The restored colour is the system's own, not a red-free RGB value.
        QVERIFY(h.window.backColor(Control::Form1).isSystem());
        QCOMPARE(h.state().MaruCount, 1);
        QCOMPARE(h.state().BatuCount, 2);
    }

    void theRightKeyCountsBeforeTheBoxIsClearedAndColoursComeLast()
    {
        Started h(0.0f);
        h.window.clearOperations();
        h.typeAndJudge("a");
        using Kind = HeadlessWindow::Operation::Kind;
        const auto &ops = h.window.operations();
        QVERIFY(ops.size() == 9);
        QVERIFY(ops[0].kind == Kind::Caption && ops[0].control == Control::lblMaru);
        QVERIFY(ops[1].kind == Kind::Text && ops[1].control == Control::txtMoji);
        QVERIFY(ops[2].kind == Kind::BackColor && ops[2].control == Control::Form1);
    }

    void aWrongKeyIsClearedBeforeTheWindowTurnsRed()
    {
        Started h(0.0f);
        h.window.clearOperations();
        h.typeAndJudge("b");
        using Kind = HeadlessWindow::Operation::Kind;
        const auto &ops = h.window.operations();
        QVERIFY(ops.size() == 9);
        QVERIFY(ops[0].kind == Kind::Caption && ops[0].control == Control::lblBatu);
        QVERIFY(ops[1].kind == Kind::Text && ops[1].control == Control::txtMoji);
        QVERIFY(ops[2].kind == Kind::BackColor && ops[2].color == kPureRed);
    }

    // robustness: 40 000 wrong keystrokes on one letter | the wrong count stops at 32767 | the game, which goes on
    void theWrongCountStopsAtItsLimitInsteadOfWrapping()
    {
        Started h(0.0f);
        for (int i = 0; i < 40000; ++i)
            h.typeAndJudge("b");
        QCOMPARE(h.state().BatuCount, 32767);
        QCOMPARE(q(h.window.caption(Control::lblBatu)), QStringLiteral("誤：32767"));
        h.typeAndJudge("a");
        QCOMPARE(h.state().MaruCount, 1);
    }

    void anIdleTickDoesNothing()
    {
        Harness h;
        h.load();
        h.window.clearOperations();
        h.tick();
        QVERIFY(h.window.operations().empty());
        QVERIFY(h.cues.played.empty());
        // Typing while idle goes nowhere: the box is disabled.
        QVERIFY(!h.window.type("a"));
    }
};

QTEST_GUILESS_MAIN(JudgeTest)
#include "tst_judge.moc"
