// The letter deck and the reset: every letter exactly once per game, in an order the
// random generator decides, and a clean slate after InitGame.
#include "harness.h"

#include <QtTest>

#include <set>

using namespace mojitan;
using namespace mojitan::testing;

static QString q(const std::string &s) { return QString::fromStdString(s); }

class DeckTest : public QObject {
    Q_OBJECT

private slots:
    void initGameLeavesAFreshDeckAndResetLabels()
    {
        Harness h;
        h.load();
        const GameState &s = h.state();
        QCOMPARE(s.MojiLeft, 25);
        QCOMPARE(s.MojiTotal, 26);
        QCOMPARE(s.Mode, ModeIdle);
        QCOMPARE(s.MaruCount, 0);
        QCOMPARE(s.BatuCount, 0);
        for (int i = 0; i < 26; ++i)
            QCOMPARE(q(s.Moji[std::size_t(i)]), QString(QChar('a' + i)));
        QCOMPARE(q(h.shown()), QString());
        QVERIFY(!h.window.control(Control::txtMoji).enabled);
        QCOMPARE(q(h.window.text(Control::txtMoji)), QString());
        // The reset captions use an ASCII colon, the running ones a full-width one.
        QCOMPARE(q(h.window.caption(Control::lblMaru)), QStringLiteral("正:0"));
        QCOMPARE(q(h.window.caption(Control::lblBatu)), QStringLiteral("誤:0"));
        QCOMPARE(q(h.window.caption(Control::lblScore)), QStringLiteral("1000ms"));
    }

    void everyLetterIsDrawnOnceWhateverTheRandomValues_data()
    {
        QTest::addColumn<QList<float>>("values");
        QTest::newRow("always the first") << QList<float>(26, 0.0f);
        QTest::newRow("always the last") << QList<float>(26, 0.99999994f);
        QTest::newRow("the middle") << QList<float>(26, 0.5f);
        QList<float> mixed;
        for (int i = 0; i < 26; ++i)
            mixed << float((i * 7919) % 1000) / 1000.0f;
        QTest::newRow("mixed") << mixed;
        // A generator that breaks its promise and returns 1 must not step off the deck.
        QTest::newRow("a faulty 1.0") << QList<float>(26, 1.0f);
    }
    // robustness: a random generator that returns 1.0 | still draws every letter once, never past the deck | the game
    void everyLetterIsDrawnOnceWhateverTheRandomValues()
    {
        QFETCH(QList<float>, values);
        Harness h;
        h.load();
        h.random.values.assign(values.begin(), values.end());
        h.window.pressEnter();

        std::multiset<std::string> drawn;
        for (int i = 0; i < 26; ++i) {
            h.tick();
            QCOMPARE(h.state().Mode, ModeAwait);
            QCOMPARE(h.state().MojiLeft, 24 - i);
            drawn.insert(h.shown());
            QCOMPARE(q(h.state().CurMoji), q(h.shown()));
            // The undrawn part stays sorted and never holds what was drawn.
            for (int j = 0; j < h.state().MojiLeft; ++j)
                QVERIFY(h.state().Moji[std::size_t(j)] < h.state().Moji[std::size_t(j) + 1]);
            h.typeAndJudge(h.shown());
        }
        QCOMPARE(drawn.size(), std::size_t(26));
        for (char c = 'a'; c <= 'z'; ++c)
            QCOMPARE(int(drawn.count(std::string(1, c))), 1);

        // The draw after the last letter shows nothing new and only asks for the finish.
        h.window.clearOperations();
        h.tick();
        QCOMPARE(h.state().Mode, ModeFinish);
        QVERIFY(h.window.operations().empty());
    }

    void aZeroDrawsTheFirstUndrawnLetterAndAlmostOneTheLast()
    {
        Harness h;
        h.load();
        h.random.values = {0.0f, 0.99999994f, 0.99999994f};
        h.window.pressEnter();
        h.tick();
        QCOMPARE(q(h.shown()), QStringLiteral("a"));
        h.typeAndJudge("a");
        h.tick();
        QCOMPARE(q(h.shown()), QStringLiteral("z"));
        h.typeAndJudge("z");
        // The last undrawn index is taken without moving anything below it.
        const auto before = h.state().Moji;
        h.tick();
        QCOMPARE(q(h.shown()), QStringLiteral("y"));
        for (int j = 0; j <= h.state().MojiLeft; ++j)
            QCOMPARE(q(h.state().Moji[std::size_t(j)]), q(before[std::size_t(j)]));
    }

    void aDrawFromTheMiddleClosesTheGapInOrder()
    {
        Harness h;
        h.load();
        h.random.values = {0.5f}; // 0.5 * 26 = 13: the letter "n"
        h.window.pressEnter();
        h.tick();
        QCOMPARE(q(h.shown()), QStringLiteral("n"));
        QCOMPARE(q(h.state().Moji[12]), QStringLiteral("m"));
        QCOMPARE(q(h.state().Moji[13]), QStringLiteral("o"));
        QCOMPARE(q(h.state().Moji[24]), QStringLiteral("z"));
        QCOMPARE(h.window.focus(), std::optional<Control>(Control::txtMoji));
    }

    void theBestTimeIsShownAsItsDigitsAndMs_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("whole") << "384" << "384ms";
        QTest::newRow("hand-edited fraction") << "384.5" << "384.5ms";
        QTest::newRow("nothing stored") << QString() << "1000ms";
    }
    void theBestTimeIsShownAsItsDigitsAndMs()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        Harness h;
        if (!stored.isNull())
            h.store.value = stored.toStdString();
        h.load();
        QCOMPARE(q(h.window.caption(Control::lblScore)), shown);
    }
};

QTEST_GUILESS_MAIN(DeckTest)
#include "tst_deck.moc"
