// The window's handlers: start-up, the start button, the focus rule and the clear-score
// question.
#include "harness.h"

#include <QtTest>

using namespace mojitan;
using namespace mojitan::testing;

static QString q(const std::string &s) { return QString::fromStdString(s); }

class HandlersTest : public QObject {
    Q_OBJECT

private slots:
    void startUpLoadsTheScoreResetsTheGameAndKeepsTheSystemColour()
    {
        Harness h;
        h.store.value = "384";
        h.load();
        QCOMPARE(q(h.state().AppDir), QStringLiteral("/opt/mojitan/"));
        QCOMPARE(h.random.seeds, 1);
        QCOMPARE(h.state().HiScore, 384.0f);
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("384ms"));
        QCOMPARE(Color::fromDouble(h.state().BaseColor), Color::system(Color::System::ButtonFace));
        QCOMPARE(h.state().Mode, ModeIdle);
        QCOMPARE(h.window.timerInterval(), 0);
        // Loading never writes the store.
        QVERIFY(h.store.writes.empty());
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::cmdStart));
    }

    void theStartButtonSwitchesToThePlayingLayoutInOrder()
    {
        Harness h;
        h.load();
        h.clock.time = 123.5;
        h.window.clearOperations();
        QCOMPARE(h.window.pressEnter(), std::optional<Control>(Control::cmdStart));

        using Kind = HeadlessWindow::Operation::Kind;
        const auto &ops = h.window.operations();
        QCOMPARE(ops.size(), std::size_t(10));
        QVERIFY(ops[0].kind == Kind::Timer && ops[0].number == 1);
        QVERIFY(ops[1].kind == Kind::Enabled && ops[1].control == Control::txtMoji && ops[1].number);
        QVERIFY(ops[2].kind == Kind::ForeColor && ops[2].control == Control::lblScore
                && ops[2].color == kBlack);
        QVERIFY(ops[3].kind == Kind::Visible && ops[3].control == Control::Frame1 && ops[3].number);
        const Control hidden[] = {Control::cmdStart, Control::cmdEnd,   Control::lblScore,
                                  Control::label1,   Control::Command1, Control::Label2};
        for (std::size_t i = 0; i < 6; ++i) {
            QVERIFY(ops[4 + i].kind == Kind::Visible && !ops[4 + i].number);
            QVERIFY(ops[4 + i].control == hidden[i]);
        }
        QCOMPARE(h.state().Mode, ModeDraw);
        QCOMPARE(h.state().StartTime, 123.5);
        QVERIFY(h.window.isShown(Control::lblMaru));
        QVERIFY(h.window.isShown(Control::lblBatu));

        h.tick();
        QCOMPARE(h.state().Mode, ModeAwait);
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::txtMoji));
        QVERIFY(h.window.type("a"));
    }

    void theFocusRuleSendsTheButtonsFocusBackToTheBoxOnlyWhileAwaitingAKey()
    {
        Harness h;
        h.load();
        // Idle: the buttons keep the focus they are given.
        h.window.setFocus(Control::cmdEnd);
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::cmdEnd));
        h.window.setFocus(Control::cmdStart);
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::cmdStart));

        h.window.pressEnter();
        h.tick();
        QCOMPARE(h.state().Mode, ModeAwait);
        // Awaiting a key: whichever button gets the focus hands it straight back.
        h.game.cmdStart_GotFocus();
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::txtMoji));
        h.window.setVisible(Control::cmdEnd, true);
        h.window.setFocus(Control::cmdEnd);
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::txtMoji));
    }

    void theClearQuestionResetsOnlyOnYes()
    {
        Harness h;
        h.store.value = "384";
        h.load();

        h.window.replies = {kReplyNo};
        h.window.setFocus(Control::Command1);
        QCOMPARE(h.window.pressEnter(), std::optional<Control>(Control::Command1));
        QCOMPARE(h.window.messages().size(), std::size_t(1));
        const auto &box = h.window.messages().back();
        QCOMPARE(q(box.text), QStringLiteral("ハイスコアを初期化しますか？"));
        QVERIFY(box.buttons == MessageButtons::YesNo);
        QCOMPARE(q(box.title), QStringLiteral("モジタン"));
        QCOMPARE(h.state().Answer, kReplyNo);
        QVERIFY(h.store.writes.empty());
        QCOMPARE(h.state().HiScore, 384.0f);
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("384ms"));
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::cmdStart));

        h.window.setFocus(Control::Command1);
        h.window.pressEnter(); // the script is used up: the box's default answer, Yes
        QCOMPARE(h.state().Answer, kReplyYes);
        QCOMPARE(h.store.writes, std::vector<std::string>{"1000"});
        QCOMPARE(h.state().HiScore, 1000.0f);
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("1000ms"));
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::cmdStart));

        // Enter now starts a game, and anything under 1000 ms a letter is a record.
        h.playGame(25.9);
        QCOMPARE(h.store.writes.back(), std::string("996"));
    }

    void theStoredTextBecomesTheBestTimeOrTheDefault_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<float>("best");
        QTest::newRow("digits") << "384" << 384.0f;
        QTest::newRow("fraction") << "384.5" << 384.5f;
        QTest::newRow("padded") << " 384 " << 384.0f;
        QTest::newRow("empty") << "" << 1000.0f;
        QTest::newRow("letters") << "fast" << 1000.0f;
        QTest::newRow("trailing junk") << "384ms" << 1000.0f;
        QTest::newRow("NaN") << "NaN" << 1000.0f;
        QTest::newRow("inf") << "inf" << 1000.0f;
        QTest::newRow("negative") << "-5" << 1000.0f;
        QTest::newRow("zero") << "0" << 1000.0f;
        QTest::newRow("too large for a float") << "1e40" << 1000.0f;
        QTest::newRow("binary") << QString::fromLatin1("\x01\xff\x7f", 3) << 1000.0f;
    }
    // robustness: a stored best time that is empty, letters, "NaN", "inf", negative, zero, too large for a float or binary | starts with 1000 ms, as on a first run | loading never writes the store
    void theStoredTextBecomesTheBestTimeOrTheDefault()
    {
        QFETCH(QString, stored);
        QFETCH(float, best);
        Harness h;
        h.store.value = stored.toStdString();
        h.load();
        QCOMPARE(h.state().HiScore, best);
        QVERIFY(h.store.writes.empty());
    }
};

QTEST_GUILESS_MAIN(HandlersTest)
#include "tst_handlers.moc"
