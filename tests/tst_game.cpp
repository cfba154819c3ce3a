// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The game in its real window, played as a player plays it: keys go to whatever holds the
// focus, the window's own timer runs the game, message boxes are answered with the keyboard,
// and the best time is read from and saved to a settings folder of the test's own. The
// desktop is in a dark theme, where a colour fixed to black would not read, and what a player
// sees is compared with the window's design, written out state by state in tests/window/.
#include "mainwindow.h"
#include "settingsscorestore.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>

using namespace mojitan;
using enum Control;

namespace {

// Root may write to a read-only file and a player may not, so when run as root the test plays
// as the user nobody, from before it makes its first file.
const bool playsAsAPlayer = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);

// The test's home, settings, caches and runtime folder, all in one temporary folder that goes
// when the test ends, so that nothing is left behind, and never the player's own settings.
const QTemporaryDir home;
const bool staysAtHome = [] {
    for (const char *place : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        qputenv(place, QFile::encodeName(home.path()));
    return QDir::setCurrent(home.path());
}();

// The test says how long a game took.
struct FakeClock : Clock {
    double seconds = 0;
    double now() override { return seconds; }
};

// Every draw gets the same value, so the test knows the first letter: 0 gives "a".
struct FixedRandom : Random {
    float value = 0;
    void seedFromClock() override {}
    float next() override { return value; }
};

// The names of the sound files the game asked for.
struct RecordingCues : CuePlayer {
    QStringList played;
    void play(const std::string &path) override { played << QFileInfo(path.c_str()).fileName(); }
};

// One whole game. By default: a clean game of 13 seconds, a record on a first run.
struct WholeGame {
    QString home{};                // a shell command that puts the settings in the home, if any
    float draw = 0;                // the random value every letter is drawn with
    QStringList pastes{};          // each pasted onto the first letter, and judged alone
    QString wrongCounter = "誤:0"; // as shown after the pastes
    double seconds = 13;           // from the start to the finish
    QString meanwhile{};           // a shell command run just before the last letter, if any
    QString figures = "100 500 7200 9"; // accuracy, ms per letter, letters per hour, sheets
    QString bestTime = "1000ms > 500ms in red, stored 500"; // before > after, and stored then
};

const QString kFile = "モジタン/モジタン.conf"; // the settings file, in the home

// A shell command that stores these settings, with printf's backslash escapes.
QString settings(const QString &contents)
{
    return "printf %b '" + contents + "' > " + kFile;
}

QString storedBest(const QString &value)
{
    return settings("[スコア]\\n速さ=" + value + "\\n");
}

// Light text on a dark window, where a colour fixed to black would not read; then a light
// window with black text, where one kept from the dark theme would not.
const QPalette kDarkTheme(QColor(0x35, 0x35, 0x35));
const QPalette kLightTheme(QColor(0xf6, 0xf5, 0xf4));

} // namespace

Q_DECLARE_METATYPE(WholeGame)

class GameTest : public QObject {
    Q_OBJECT

    FakeClock clock;
    FixedRandom random;
    RecordingCues cues;
    std::optional<SettingsScoreStore> store;
    std::unique_ptr<MainWindow> window;
    QStringList boxesSeen; // each as title|text
    QTimer boxAnswerer;

    QString shown(Control which) { return window->control(which)->property("text").toString(); }

    // A control's colour as a word, where it is not the theme's own.
    QString unlessTheme(const QString &word, QWidget *control,
                        QPalette::ColorRole role = QPalette::WindowText)
    {
        const QColor colour = control->palette().color(role);
        if (colour == QApplication::palette().color(role))
            return {};
        return word + (colour == QColor(Qt::red) ? "red" : colour.name());
    }

    // The window in words, a line a control, back to front (a later one is drawn over an
    // earlier one): its rectangle in its parent, its font where it is not the gothic, how a
    // label places its text; then its caption, its colours where they are not the theme's,
    // and whether it is hidden. The box that takes the keys is never drawn, and a window of
    // the game's own is not drawn in it.
    QStringList picture()
    {
        QStringList lines;
        for (QWidget *control : QWidgetList{window.get()} + window->findChildren<QWidget *>()) {
            if (control == window->control(txtMoji) || control->window() != window.get())
                continue;
            const QRect r = control->isWindow() ? control->rect() : control->geometry();
            const QFont font = control->font();
            QString line =
                QString::asprintf("%s %d,%d %dx%d %gpt", qPrintable(control->objectName()), r.x(),
                                  r.y(), r.width(), r.height(), font.pointSizeF());
            if (font.italic())
                line += " italic";
            if (font.family() != "ＭＳ Ｐゴシック")
                line += " in " + font.family();
            if (auto *label = qobject_cast<QLabel *>(control)) {
                line += " " + QMetaEnum::fromType<Qt::Alignment>().valueToKeys(label->alignment());
                if (label->wordWrap())
                    line += " wrapped";
            }
            // The window, the frame, and the labels and buttons each keep their caption in one.
            line += ": ";
            for (const char *property : {"windowTitle", "title", "text"})
                line += control->property(property).toString();
            line += unlessTheme(" in ", control);
            line += unlessTheme(" on ", control, QPalette::Window);
            if (!control->isVisible())
                line += " hidden";
            lines << line.trimmed(); // a control without a caption ends in the colon
        }
        return lines;
    }

    // The window against its picture in words in tests/window/, where %1 stands for the best
    // time as shown.
    void looksLike(const QString &name, const QString &bestTime = "1000ms")
    {
        QFile expected(":/window/" + name + ".txt");
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QCOMPARE(
            picture(),
            QString::fromUtf8(expected.readAll()).arg(bestTime).split("\n", Qt::SkipEmptyParts));
    }

    // The Caps Lock hint, where a screen reader meets it as a tool tip, with its place from the
    // window's corner; empty while it is hidden.
    QString toolTip()
    {
        auto *hint = window->findChild<QWidget *>("capsLockHint");
        QAccessibleInterface *seen = QAccessible::queryAccessibleInterface(hint);
        if (!hint->isVisible() || seen->role() != QAccessible::ToolTip)
            return {};
        const QPoint place = hint->pos() - window->mapToGlobal(QPoint());
        return seen->text(QAccessible::Name) + QString(" at %1,%2").arg(place.x()).arg(place.y());
    }

    // An empty settings folder in the test's home, then a shell command that may put something
    // in it. prlimit lifts the limit on a file's size that a row may have left.
    void putSettings(const QString &command)
    {
        const QString emptyFolder = "chmod -R u+w .\nrm -rf モジタン\nmkdir モジタン\n"
                                    "prlimit --pid $PPID --fsize=unlimited:\n";
        QCOMPARE(QProcess::execute("sh", {"-ec", emptyFolder + command}), 0);
    }

    void openTheGame()
    {
        window = std::make_unique<MainWindow>(clock, random, cues, store.emplace());
        window->show();
        window->activateWindow();
    }

    // A key as the player presses it: to the window, which gives it to its focus holder.
    void press(auto key, Qt::KeyboardModifiers held = Qt::NoModifier)
    {
        QTest::keyClick(window->windowHandle(), key, held);
        waitForTheGame();
    }

    // Text pasted into the box that takes the keys.
    void paste(const QString &text)
    {
        static_cast<QLineEdit *>(window->control(txtMoji))->insert(text);
        waitForTheGame();
    }

    // Runs the window until its timer sleeps: the game waits for the player, or is over.
    void waitForTheGame()
    {
        const bool sleeps = QTest::qWaitFor([this] { return !window->timer().isActive(); });
        QVERIFY2(sleeps, "the timer keeps ticking with nothing to do");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(playsAsAPlayer);
        QVERIFY(staysAtHome);
        signal(SIGXFSZ, SIG_IGN); // a full disk fails the write instead of ending the test
        // Answers each message box with Enter. The first box also gets a tick from elsewhere,
        // which must not start anything. Both come from the box's own event loop: a timer does
        // not fire again while its handler runs, so a box opened inside it would never close.
        boxAnswerer.callOnTimeout(this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            boxesSeen << box->windowTitle() + "|" + box->text();
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            if (boxesSeen.size() == 1)
                QTimer::singleShot(0, this, [this] { window->game().Timer1_Timer(); });
            QTimer::singleShot(0, box, [this, box] {
                QTest::keyClick(box, Qt::Key_Return);
                window->activateWindow(); // as a window manager would
            });
        });
        boxAnswerer.start(50);
    }

    void init()
    {
        // Any warning is a fault, but the offscreen platform's own note about size hints.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        QApplication::setPalette(kDarkTheme);
        random.value = 0;
        clock.seconds = 0;
        cues.played.clear();
        boxesSeen.clear();
    }

    void theWindowAndTheBoxThatTakesTheKeys()
    {
        putSettings({});
        openTheGame();
        looksLike("idle");
        // The text box is disabled between games, so Tab passes it by.
        for (const char *next : {"cmdEnd", "Command1", "cmdStart"}) {
            press(Qt::Key_Tab);
            QCOMPARE(window->focusWidget()->objectName(), next);
        }
        press(Qt::Key_Return);
        looksLike("playing");

        // The box takes each key as the letter typed: asked the way Qt asks before it hands
        // the keys to an input method, it says no.
        QInputMethodQueryEvent inputMethodQuery(Qt::ImEnabled);
        QApplication::sendEvent(window->control(txtMoji), &inputMethodQuery);
        QVERIFY(!inputMethodQuery.value(Qt::ImEnabled).toBool());
        // With Caps Lock on, the letter shown comes in capitals without Shift: that wrong key,
        // and no other, brings a hint by the big letter, which stays until a right key.
        press('A', Qt::ShiftModifier);
        press('B');
        QCOMPARE(toolTip(), "");
        press('A');
        QCOMPARE(toolTip(), "Caps Lock がオンになっています at 0,57");
        looksLike("wrong");
        press('a');
        looksLike("right");
        QCOMPARE(toolTip(), "");
    }

    void aWholeGame_data()
    {
        QTest::addColumn<WholeGame>("game");
        const auto game = [](const char *name, const WholeGame &game) {
            QTest::newRow(name) << game;
        };
        const QString recordInMemory = "1000ms > 500ms in red, stored none";
        const QString recordNotSaved = "600ms > 500ms in red, stored 600";
        const QString noRecord = "1000ms > 1000ms, stored none";

        game("a clean game on a first run is a record", {});
        game("an equal time is no record",
             {.home = storedBest("500"), .bestTime = "500ms > 500ms, stored 500"});
        // A second copy of the game stores its own best time while this one plays.
        game("a better time stored meanwhile",
             {.meanwhile = storedBest("48"), .bestTime = "1000ms > 48ms, stored 48"});
        game("a worse time stored meanwhile",
             {.home = storedBest("400"),
              .meanwhile = storedBest("6000"),
              .bestTime = "400ms > 400ms, stored 6000"});
        game("a slower game, against a best edited by hand",
             {.home = settings("[スコア]\\n速さ = 384.5 \\n"),
              .bestTime = "384.5ms > 384.5ms, stored 384.5"});
        // robustness: a stored best time that is empty, letters, "NaN", "inf", negative, zero, too
        // large for a float or binary | starts with 1000 ms, as on a first run | the file until a
        // record replaces it
        for (const char *bad : {"", "abc", "NaN", "inf", "-5", "0", "1e39", "\\001\\002"})
            QTest::addRow("a stored best of '%s'", bad) << WholeGame{.home = storedBest(bad)};
        // robustness: a settings file that is damaged and cut short, or holds a typed value |
        // starts with what still reads as a number, else 1000 ms | the file until a record
        // replaces it
        game("a settings file damaged and cut short",
             {.home = settings("\\001\\377]]==\\n[スコア]\\n速さ=384"),
              .bestTime = "384ms > 384ms, stored 384"});
        game("a typed value", {.home = storedBest("@ByteArray(384)")});
        // robustness: a folder or a FIFO where the settings file should be | starts with 1000 ms
        // without blocking | a record replaces a FIFO, and is kept in memory otherwise
        //
        // robustness: a record the settings file cannot take | shows and counts the record for the
        // rest of the run | the record, in memory
        game("a FIFO", {.home = "mkfifo " + kFile});
        game("a folder", {.home = "mkdir " + kFile, .bestTime = recordInMemory});
        // robustness: a read-only settings folder, or a disk that fills up while saving | plays on
        // and shows the record | the old stored value, whole
        game("a read-only settings folder",
             {.home = storedBest("600") + " && chmod 555 モジタン", .bestTime = recordNotSaved});
        // prlimit sets the test's own limit on the size of a file.
        game("a disk that fills up",
             {.home = storedBest("600") + " && prlimit --pid $PPID --fsize=16:",
              .bestTime = recordNotSaved});

        // robustness: the letter typed in upper case, twice, in full width, a control character or
        // a 1 MB paste | one wrong keystroke; the box is cleared and the same letter stays | the
        // counts and the letter
        game("five wrong pastes on the letter n",
             {.draw = 0.5f,
              .pastes = {"N", "nn", "ｎ", "\x01", QString(1 << 20, 'n')},
              .wrongCounter = "誤：5",
              .figures = "83 500 7200 9"});
        // robustness: 40 000 wrong keystrokes on one letter | the wrong count stops at 32767; the
        // game finishes with an accuracy of 0 % | the game and the best time
        game("40000 wrong keys",
             {.pastes = QStringList(40000, "A"),
              .wrongCounter = "誤：32767",
              .figures = "0 500 7200 9"});
        // robustness: a random generator that returns 1.0 | still draws every letter once, never
        // past the deck | the game
        game("a generator that returns 1",
             {.draw = 1, .seconds = 26, .figures = "100 1000 3600 4", .bestTime = noRecord});
        // robustness: a clock that jumps back across midnight, stands still, or reads NaN | reports
        // the game, never records it | the previous best time
        for (double fault : {-86000.0, 0.0, double(NAN)})
            QTest::addRow("a clock that reads %g seconds", fault) << WholeGame{
                .seconds = fault, .figures = "100 1 3600000 4500", .bestTime = noRecord};
    }

    // robustness: a timer tick while the result box is open | one result box, one save | the best
    // time, saved once
    void aWholeGame()
    {
        QFETCH(WholeGame, game);
        putSettings(game.home);
        openTheGame();
        const QString bestBefore = shown(lblScore);
        random.value = game.draw;

        press(Qt::Key_Return); // the start button holds the focus

        for (const QString &wrong : game.pastes)
            paste(wrong);
        QCOMPARE(shown(lblBatu), game.wrongCounter);

        QString lettersSeen;
        for (int n = 1; n < 26; ++n) {
            lettersSeen += shown(lblMoji);
            press(lettersSeen.back().toLatin1());
        }
        lettersSeen += shown(lblMoji);
        std::ranges::sort(lettersSeen);
        QCOMPARE(lettersSeen, "abcdefghijklmnopqrstuvwxyz");
        clock.seconds += game.seconds;
        QCOMPARE(QProcess::execute("sh", {"-ec", game.meanwhile}), 0);
        press(shown(lblMoji)[0].toLatin1()); // the last letter: the result box comes

        QString result = "モジタン|あなたの正解率は%1%です。\n一文字あたりの速さ:%2ミリ秒\n"
                         "１時間で%3文字、打てます。\n原稿用紙にして、%4枚です。";
        for (const QString &figure : game.figures.split(" "))
            result = result.arg(figure);
        QCOMPARE(boxesSeen, QStringList{result});
        const QString stored = SettingsScoreStore().read().value_or("none").c_str();
        const QString bestAfter = shown(lblScore) + unlessTheme(" in ", window->control(lblScore));
        const bool isRecord = bestAfter.endsWith(" in red");
        QCOMPARE(bestBefore + " > " + bestAfter + ", stored " + stored, game.bestTime);
        QStringList cuesInTurn = QStringList(game.pastes.size(), "wrong.wav");
        cuesInTurn += QStringList(26, "key.wav");
        if (isRecord)
            cuesInTurn << "win.wav";
        QCOMPARE(cues.played, cuesInTurn);

        // The desktop turns light: the window follows at once, a record's red stays pure red,
        // and the next game starts with the best time in the new theme's colour. (Qt tells the
        // windows of a running application; the test has no running event loop.)
        QApplication::setPalette(kLightTheme);
        QEvent paletteChange(QEvent::ApplicationPaletteChange);
        QApplication::sendEvent(window.get(), &paletteChange);
        looksLike("idle", bestAfter);
        press(Qt::Key_Return);
        QCOMPARE(unlessTheme(" in ", window->control(lblScore)), "");
    }
};

QTEST_MAIN(GameTest)
#include "tst_game.moc"
