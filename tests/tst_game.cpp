// The game in its real window, played as a player plays it: keys go to whatever holds the
// focus, the window's own timer runs the game, message boxes are answered with the keyboard,
// and the best time is read from and saved to a settings folder of the test's own. The
// desktop is in a dark theme, where a colour fixed to black would not read.
#include "mainwindow.h"
#include "settingsscorestore.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>

#include <sys/resource.h>

using namespace mojitan;
using enum Control;

namespace {

// Root may write to a read-only file and a player may not, so when run as root the test plays
// as the user nobody, from before it makes its first file.
const bool playsAsAPlayer = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);

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

const QPalette kDarkTheme(QColor(0x35, 0x35, 0x35));
const QPalette kLightTheme(QColor(0xef, 0xef, 0xef));

// The controls that turn red after a wrong key, and back after a right one.
constexpr Control kPainted[] = {Form1, Frame1, lblMoji, lblMaru, lblBatu, label1, lblScore};

// The controls a player sees and can use between games, and during one, back to front.
const QString kIdle = "lblMoji label1 lblScore Label2 cmdStart cmdEnd Command1";
const QString kPlaying = "lblMoji Frame1 lblBatu lblMaru txtMoji";

QByteArray storedBest(const char *value)
{
    return QByteArray("[スコア]\n速さ=") + value + '\n';
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

QString captionOf(const QWidget *control)
{
    if (control->isWindow())
        return control->windowTitle();
    if (auto *frame = qobject_cast<const QGroupBox *>(control))
        return frame->title();
    return control->property("text").toString();
}

// One control as drawn: parent/name, rectangle, caption, font size and alignment.
QString layoutOf(const QWidget *control)
{
    QString line = control->parentWidget() ? control->parentWidget()->objectName() : "";
    line += "/" + control->objectName();
    if (!control->isWindow())
        line += QString(" %1,%2").arg(control->x()).arg(control->y());
    line += QString(" %1x%2").arg(control->width()).arg(control->height());
    line += QString(" '%1' %2pt").arg(captionOf(control)).arg(control->font().pointSizeF());
    if (control->font().italic())
        line += " italic";
    const auto alignment = control->property("alignment").value<Qt::Alignment>();
    if (alignment & Qt::AlignRight)
        line += " right";
    if (alignment & Qt::AlignHCenter)
        line += " centred";
    if (alignment & Qt::AlignTop)
        line += " top";
    return line;
}

// What `action` writes to standard error.
QByteArray standardErrorOf(const std::function<void()> &action)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return "<no pipe>";
    const int terminal = dup(STDERR_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    action();
    dup2(terminal, STDERR_FILENO);
    close(terminal);
    close(pipeEnds[1]);
    QFile said;
    said.open(pipeEnds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    return said.readAll();
}

} // namespace

class GameTest : public QObject {
    Q_OBJECT

    FakeClock clock;
    FixedRandom random;
    RecordingCues cues;
    QTemporaryDir home;
    const QString settingsFolder = home.path() + "/モジタン";
    const QString settingsFile = settingsFolder + "/モジタン.conf";
    std::optional<SettingsScoreStore> store;
    std::unique_ptr<MainWindow> window;
    QStringList boxesSeen; // each as title|text
    QPointer<QMessageBox> lastBox;
    QTimer boxAnswerer;

    QString shown(Control which) { return captionOf(window->control(which)); }
    QColor backgroundOf(Control which)
    {
        return window->control(which)->palette().color(QPalette::Window);
    }
    QColor textColourOf(Control which)
    {
        return window->control(which)->palette().color(QPalette::WindowText);
    }
    QColor theme(QPalette::ColorRole role) { return QApplication::palette().color(role); }

    bool allPainted(const QColor &colour)
    {
        return std::ranges::all_of(kPainted, [&](Control c) { return backgroundOf(c) == colour; });
    }

    QString visibleControls()
    {
        QStringList names;
        for (const QWidget *control : window->findChildren<QWidget *>())
            if (control->isVisible() && control->isEnabled())
                names << control->objectName();
        return names.join(" ");
    }

    // Runs a shell command in the home that holds the settings folder.
    void inTheHome(const QString &command)
    {
        QProcess shell;
        shell.setWorkingDirectory(home.path());
        shell.start("sh", {"-c", command});
        QVERIFY(shell.waitForFinished());
        QCOMPARE(shell.exitCode(), 0);
    }

    // Gives the settings file these contents (none when null), then runs a shell command in the
    // home, which may put something else in the file's place.
    void putSettings(const QByteArray &contents, const QString &thenRun = {})
    {
        inTheHome("chmod -R u+w . && rm -rf モジタン && mkdir モジタン");
        QFile file(settingsFile);
        if (!contents.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        file.close();
        inTheHome(thenRun);
    }

    void openTheGame()
    {
        window = std::make_unique<MainWindow>(clock, random, cues, store.emplace());
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    // A key as the player presses it: to the window, which gives it to its focus holder.
    void press(int key, const QString &text = {})
    {
        QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key(key), text, {});
        waitForTheGame();
    }
    void press(const QString &letter) { press(letter.toUpper()[0].unicode(), letter); }

    // Text pasted into the box that takes the keys.
    void paste(const QString &text)
    {
        static_cast<QLineEdit *>(window->control(txtMoji))->insert(text);
        waitForTheGame();
    }

    // Runs the window until its timer sleeps: the game waits for the player, or is over.
    void waitForTheGame()
    {
        QDeadlineTimer deadline(5000);
        while (window->timer().isActive() && !deadline.hasExpired())
            QCoreApplication::processEvents();
        QVERIFY2(!window->timer().isActive(), "the timer keeps ticking with nothing to do");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(playsAsAPlayer);
        signal(SIGXFSZ, SIG_IGN); // a full disk fails the write instead of ending the test
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        // Answers each message box with Enter. While the first box is open, the game gets a
        // tick from elsewhere, which must not start anything.
        boxAnswerer.callOnTimeout(this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (box == lastBox) {
                QTest::keyClick(box, Qt::Key_Return);
                QApplication::setActiveWindow(window.get()); // as a window manager would
                return;
            }
            lastBox = box;
            boxesSeen << box->windowTitle() + "|" + box->text();
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            if (boxesSeen.size() == 1)
                QTimer::singleShot(0, this, [this] { window->game().Timer1_Timer(); });
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

    void cleanup() { window.reset(); }

    void theWindowOpensAsDrawn()
    {
        putSettings({});
        openTheGame();
        const auto titleButtons = Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
        QCOMPARE(window->windowFlags() & titleButtons, Qt::WindowCloseButtonHint);
        QCOMPARE(window->minimumSize(), window->maximumSize());
        // Back to front: a control further down is drawn over the ones above it.
        QStringList controls;
        for (const QWidget *c : QWidgetList{window.get()} + window->findChildren<QWidget *>())
            controls << layoutOf(c);
        QCOMPARE(controls.join("\n"), R"(/Form1 104x60 'モジタン' 9pt
Form1/lblMoji 0,8 57x49 '' 36pt centred top
Form1/label1 48,32 41x9 'ハイスコア' 6pt
Form1/lblScore 56,40 41x11 '1000ms' 8.25pt right top
Form1/Label2 8,8 41x41 'Enterで開始します。' 9pt top
Form1/cmdStart 64,0 33x17 'スタート' 5.25pt italic
Form1/cmdEnd 64,16 33x17 '終了' 5.25pt
Form1/Frame1 48,0 49x57 '成績' 9pt
Frame1/lblBatu 8,16 33x17 '誤:0' 9pt
Frame1/lblMaru 8,32 33x17 '正:0' 9pt
Form1/txtMoji 16,128 33x30 '' 20.25pt
Form1/Command1 48,48 49x12 'スコア消去' 6pt)");
        QCOMPARE(visibleControls(), kIdle);
        QVERIFY(window->control(cmdStart)->toolTip().startsWith("スタートボタンを押したら"));
        // The text box is disabled between games, so Tab passes it by.
        for (const char *next : {"cmdEnd", "Command1", "cmdStart"}) {
            press(Qt::Key_Tab);
            QCOMPARE(window->focusWidget()->objectName(), next);
        }
    }

    void aWholeGame_data()
    {
        QTest::addColumn<QByteArray>("settings"); // the settings file, or none when null
        QTest::addColumn<QString>("thenRun");     // a shell command in the settings' home
        QTest::addColumn<float>("draw");          // the random value every letter is drawn with
        QTest::addColumn<QStringList>("pastes");  // each pasted onto the first letter, judged alone
        QTest::addColumn<double>("seconds");      // from the start to the finish
        QTest::addColumn<QString>("figures");  // accuracy, ms per letter, letters per hour, sheets
        QTest::addColumn<QString>("bestTime"); // shown before > after, and what is stored then
        const QString record = "1000ms > 500ms in red, stored 500";
        const QString recordInMemory = "1000ms > 500ms in red, stored none";
        // A clean 13 s game, with what lies where the settings file goes.
        const auto withSettings = [](const char *name, const QByteArray &settings, QString best,
                                     QString thenRun = {}) {
            QTest::newRow(name) << settings << thenRun << 0.0f << QStringList() << 13.0
                                << "100 500 7200 9" << best;
        };

        withSettings("a clean 13 s game is a record", {}, record);
        withSettings("an equal time is no record", storedBest("500"), "500ms > 500ms, stored 500");
        withSettings("a slower game, against a best edited by hand", "[スコア]\n速さ = 384.5 \n",
                     "384.5ms > 384.5ms, stored 384.5");
        // robustness: a stored best time that is empty, letters, "NaN", "inf", negative, zero, too
        // large for a float or binary | starts with 1000 ms, as on a first run | loading never
        // writes the file
        for (const char *bad : {"", "abc", "NaN", "inf", "-5", "0", "1e39", "\x01\x02"})
            withSettings(qPrintable(QString("a stored best of '%1'").arg(bad)), storedBest(bad),
                         record);
        // robustness: a settings file that is damaged and cut short, or holds a typed value |
        // starts with what still reads as a number, else 1000 ms | the file until a record
        // replaces it
        withSettings("a settings file damaged and cut short",
                     "\x01\xff]]==\n[%U30B9%U30B3%U30A2]\n%U901F%U3055=384",
                     "384ms > 384ms, stored 384");
        withSettings("a typed value", storedBest("@ByteArray(384)"), record);
        // robustness: a folder, a FIFO, a link to a folder or a broken link where the settings file
        // should be | starts with 1000 ms without blocking | a record replaces a FIFO or fills in a
        // broken link, and is kept in memory otherwise
        //
        // robustness: a record the settings file cannot take | shows and counts the record for the
        // rest of the run | the record, in memory
        withSettings("a FIFO", {}, record, "mkfifo モジタン/モジタン.conf");
        withSettings("a broken link", {}, record, "ln -s gone モジタン/モジタン.conf");
        withSettings("a folder", {}, recordInMemory, "mkdir モジタン/モジタン.conf");
        withSettings("a link to a folder", {}, recordInMemory, "ln -s . モジタン/モジタン.conf");

        // robustness: the letter typed in upper case, twice, in full width, a control character or
        // a 1 MB paste | one wrong keystroke; the box is cleared and the same letter stays | the
        // counts and the letter
        QTest::newRow("five wrong pastes on the letter n")
            << QByteArray() << "" << 0.5f
            << QStringList{"N", "nn", "ｎ", "\x01", QString(1 << 20, 'n')} << 13.0
            << "83 500 7200 9" << record;
        QTest::newRow("one wrong key rounds the accuracy down")
            << storedBest("600") << "" << 0.0f << QStringList{"A"} << 13.0 << "96 500 7200 9"
            << "600ms > 500ms in red, stored 500";
        // robustness: 40 000 wrong keystrokes on one letter | the wrong count stops at 32767; the
        // game finishes with an accuracy of 0 % | the game and the best time
        QTest::newRow("40000 wrong keys") << QByteArray() << "" << 0.0f << QStringList(40000, "A")
                                          << 13.0 << "0 500 7200 9" << record;
        // robustness: a random generator that returns 1.0 | still draws every letter once, never
        // past the deck | the game
        QTest::newRow("a generator that returns 1")
            << QByteArray() << "" << 1.0f << QStringList() << 26.0 << "100 1000 3600 4"
            << "1000ms > 1000ms, stored none";
        // robustness: a clock that jumps back across midnight, stands still, or reads NaN | reports
        // the game, never records it | the previous best time
        for (double fault : {-86000.0, 0.0, double(NAN)})
            QTest::addRow("a clock that reads %g seconds", fault)
                << QByteArray() << "" << 0.0f << QStringList() << fault << "100 1 3600000 4500"
                << "1000ms > 1000ms, stored none";
    }

    // robustness: a timer tick while the result box is open | one result box, one save | the best
    // time, saved once
    void aWholeGame()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, thenRun);
        QFETCH(float, draw);
        QFETCH(QStringList, pastes);
        QFETCH(double, seconds);
        QFETCH(QString, figures);
        QFETCH(QString, bestTime);
        putSettings(settings, thenRun);
        openTheGame();
        if (QFileInfo(settingsFile).isFile())
            QCOMPARE(contentsOf(settingsFile), settings); // loading never writes
        const QString bestBefore = shown(lblScore);
        random.value = draw;

        press(Qt::Key_Return); // the start button holds the focus
        QCOMPARE(visibleControls(), kPlaying);
        // The box takes each key as the letter typed: asked the way Qt asks before it hands
        // the keys to an input method, it says no.
        QCOMPARE(QApplication::focusWidget(), window->control(txtMoji));
        QInputMethodQueryEvent inputMethodQuery(Qt::ImEnabled);
        QApplication::sendEvent(window->control(txtMoji), &inputMethodQuery);
        QVERIFY(!inputMethodQuery.value(Qt::ImEnabled).toBool());

        const QString first = shown(lblMoji);
        for (const QString &wrong : pastes) {
            paste(wrong);
            QCOMPARE(shown(lblMoji), first);
            QVERIFY(shown(txtMoji).isEmpty());
            QVERIFY(allPainted(Qt::red));
            QCOMPARE(cues.played.last(), "wrong.wav");
        }
        if (!pastes.isEmpty())
            QCOMPARE(shown(lblBatu),
                     "誤：" + QString::number(std::min<qsizetype>(pastes.size(), 32767)));

        QString lettersSeen;
        for (int n = 1; n < 26; ++n) {
            lettersSeen += shown(lblMoji);
            press(lettersSeen.back());
            QCOMPARE(shown(lblMaru), "正：" + QString::number(n));
            QVERIFY(allPainted(theme(QPalette::Window)));
            QCOMPARE(cues.played.last(), "key.wav");
        }
        lettersSeen += shown(lblMoji);
        std::ranges::sort(lettersSeen);
        QCOMPARE(lettersSeen, "abcdefghijklmnopqrstuvwxyz");
        clock.seconds += seconds;
        press(shown(lblMoji)); // the last letter: the result box comes

        const QStringList figure = figures.split(" ");
        const QString result = "モジタン|あなたの正解率は%1%です。\n一文字あたりの速さ:%2ミリ秒\n"
                               "１時間で%3文字、打てます。\n原稿用紙にして、%4枚です。";
        QCOMPARE(boxesSeen, QStringList{result.arg(figure[0], figure[1], figure[2], figure[3])});
        const bool isRecord = textColourOf(lblScore) == QColor(Qt::red);
        const QString stored = SettingsScoreStore().read().value_or("none").c_str();
        const QString bestAfter = shown(lblScore) + (isRecord ? " in red" : "");
        QCOMPARE(bestBefore + " > " + bestAfter + ", stored " + stored, bestTime);
        QCOMPARE(cues.played.size(), 26 + pastes.size() + isRecord);
        QCOMPARE(cues.played.last() == "win.wav", isRecord);
        QCOMPARE(visibleControls(), kIdle);
        QCOMPARE(window->focusWidget(), window->control(cmdStart));
        QVERIFY(shown(lblMoji).isEmpty());

        // The desktop turns light, and the next game starts at once in its colours. (Qt tells
        // the windows of a running application; the test has no running event loop.)
        QApplication::setPalette(kLightTheme);
        QEvent paletteChange(QEvent::ApplicationPaletteChange);
        QApplication::sendEvent(window.get(), &paletteChange);
        press(Qt::Key_Return);
        QCOMPARE(visibleControls(), kPlaying);
        QVERIFY(allPainted(theme(QPalette::Window)));
        QCOMPARE(textColourOf(lblScore), theme(QPalette::WindowText));
    }

    void keysTypedBeforeATickAreJudgedAsOneText()
    {
        putSettings({});
        openTheGame();
        press(Qt::Key_Return);
        const QString letter = shown(lblMoji);
        // Two keys that reach the box before the game looks at it: "aa" is one wrong key.
        for (int i = 0; i < 2; ++i) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, letter);
            QApplication::sendEvent(window->control(txtMoji), &key);
        }
        waitForTheGame();
        QCOMPARE(shown(lblBatu), "誤：1");
        QCOMPARE(shown(lblMaru), "正:0");
        QCOMPARE(shown(lblMoji), letter);
    }

    void aFailedSaveKeepsTheOldFileWhole_data()
    {
        QTest::addColumn<QString>("fault");   // a shell command in the settings' home
        QTest::addColumn<rlim_t>("diskRoom"); // the bytes a file may grow to
        // robustness: a read-only settings file or folder, a file where its folder should be, or a
        // disk that fills up while saving | plays on; one line on standard error per run | the old
        // stored value, whole
        QTest::newRow("a read-only file") << "chmod 444 モジタン/モジタン.conf" << RLIM_INFINITY;
        QTest::newRow("a read-only folder") << "chmod 555 モジタン" << RLIM_INFINITY;
        QTest::newRow("a file where the folder should be")
            << "rm -r モジタン && touch モジタン" << RLIM_INFINITY;
        QTest::newRow("a disk that fills up") << "" << rlim_t(16);
    }

    void aFailedSaveKeepsTheOldFileWhole()
    {
        QFETCH(QString, fault);
        QFETCH(rlim_t, diskRoom);
        putSettings(storedBest("384"), fault);
        const QByteArray contentsBefore = contentsOf(settingsFile);
        const QStringList filesBefore = QDir(settingsFolder).entryList(QDir::Files | QDir::Hidden);

        // Two records in a row.
        SettingsScoreStore store;
        rlimit room{diskRoom, RLIM_INFINITY};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &room), 0);
        const QByteArray said = standardErrorOf([&] {
            QVERIFY(!store.write("600"));
            QVERIFY(!store.write("500"));
        });
        room.rlim_cur = RLIM_INFINITY;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &room), 0);

        QVERIFY2(said.startsWith("mojitan: cannot save the best time in "), said);
        QCOMPARE(said.count('\n'), 1);
        QCOMPARE(contentsOf(settingsFile), contentsBefore);
        QCOMPARE(QDir(settingsFolder).entryList(QDir::Files | QDir::Hidden), filesBefore);
    }
};

QTEST_MAIN(GameTest)
#include "tst_game.moc"
