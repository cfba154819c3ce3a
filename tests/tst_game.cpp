// The game in its real window with its real settings file, as a player meets it: keys go to
// whatever holds the focus, ticks come one at a time, message boxes are answered with the
// keyboard, and the best time is read from and saved to a settings folder of the test's own.
#include "fakes.h"
#include "mainwindow.h"
#include "settingsscorestore.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace mojitan;

namespace {
constexpr Control kPainted[] = {Control::Form1, Control::Frame1, Control::lblMoji, Control::lblMaru,
                                Control::lblBatu, Control::label1, Control::lblScore};
constexpr Control kIdle[] = {Control::cmdStart, Control::cmdEnd, Control::lblScore, Control::label1, Control::Command1, Control::Label2};
const QByteArray kStored = "[%U30B9%U30B3%U30A2]\n%U901F%U3055=384\n"; // as QSettings writes it

QByteArray bytes(const QString &path) { QFile file(path); return file.open(QIODevice::ReadOnly) ? file.readAll() : "(none)"; }
QByteArray best(const char *value) { return QByteArray("[スコア]\n速さ=") + value + '\n'; }
QString caption(QWidget *c) { return c->property(c->isWindow() ? "windowTitle" : qobject_cast<QGroupBox *>(c) ? "title" : "text").toString(); }
} // namespace

class GameTest : public QObject {
    Q_OBJECT

    testing::FakeClock clock;
    testing::FixedRandom random;
    testing::RecordingCues cues;
    QTemporaryDir home;
    const QString file = home.path() + QStringLiteral("/モジタン/モジタン.conf");
    std::optional<SettingsScoreStore> store;
    std::unique_ptr<MainWindow> w;
    QStringList boxes; // each box shown: title|text|buttons|icon
    QTimer answerer;

    // Puts `contents` where the settings file goes, or nothing for a null; "dir", "fifo" and
    // "link:<target>" put something other than a file there.
    void put(const QByteArray &contents)
    {
        QDir(home.path()).removeRecursively();
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        QVERIFY(contents.isNull() || (contents == "dir" ? QDir().mkdir(file) : contents == "fifo" ? mkfifo(QFile::encodeName(file), 0600) == 0
                : contents.startsWith("link:") ? QFile::link(QString::fromUtf8(contents.mid(5)), file)
                : out.open(QIODevice::WriteOnly) && out.write(contents) == contents.size()));
    }
    QWidget *get(Control c) { return w->control(c); }
    QString text(Control c) { return caption(get(c)); }
    void tick() { w->game().Timer1_Timer(); }
    // Keys go to the window, which hands them to its focus holder.
    void press(int key, const QString &text = {}) { QTest::sendKeyEvent(QTest::Click, w->windowHandle(), Qt::Key(key), text, {}); }
    std::string cue(const char *name) { return (QCoreApplication::applicationDirPath() + "/sound/" + name).toStdString(); }
    bool painted(QColor colour) { return std::ranges::all_of(kPainted, [&](Control c) { return get(c)->palette().color(QPalette::Window) == colour; }); }
    bool idle(bool shown = true)
    {
        return std::ranges::all_of(kIdle, [&](Control c) { return get(c)->isHidden() != shown; })
            && get(Control::Frame1)->isHidden() == shown && get(Control::txtMoji)->isEnabled() != shown
            && text(Control::txtMoji).isEmpty() && (!shown || w->focusWidget() == get(Control::cmdStart));
    }
    void open(const QByteArray &stored = {})
    {
        put(stored);
        w = std::make_unique<MainWindow>(clock, random, cues, store.emplace());
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }

private slots:
    void initTestCase()
    {
        // Answers a box a while after it opened, so that a running timer ticks meanwhile.
        answerer.callOnTimeout(this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << QStringLiteral("%1|%2|%3|%4").arg(box->windowTitle(), box->text()).arg(int(box->standardButtons())).arg(box->icon());
                QTest::keyClick(box, Qt::Key_Return);
                QApplication::setActiveWindow(w.get()); // as a window manager would
            }
        });
        answerer.start(50);
    }
    void init()
    {
        // Any warning is a fault, but the offscreen platform's own note about size hints.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support).*")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        random.value = clock.time = 0;
        cues.played.clear();
        boxes.clear();
    }
    void cleanup() { w.reset(); }

    void theWindowOpensAsDrawn()
    {
        open();
        QCOMPARE(w->windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint), Qt::WindowCloseButtonHint);
        // Back to front, each with its parent, rectangle, caption, font and alignment.
        QStringList controls;
        for (QWidget *c : QWidgetList{w.get()} + w->findChildren<QWidget *>())
            controls << QStringLiteral("%1/%2 %3,%4 %5x%6%7 '%8' %9pt%10 %11").arg(c->parent() ? c->parent()->objectName() : "", c->objectName())
                            .arg(c->x() * !c->isWindow()).arg(c->y() * !c->isWindow()).arg(c->width()).arg(c->height()).arg(c->minimumSize() == c->maximumSize() ? " fixed" : "", caption(c))
                            .arg(c->font().pointSizeF()).arg(c->font().italic() ? " italic" : "").arg(c->property("alignment").toInt());
        QCOMPARE(controls.join(u'\n'), QStringLiteral(R"(/Form1 0,0 104x60 fixed 'モジタン' 9pt 0
Form1/lblMoji 0,8 57x49 '' 36pt 36
Form1/label1 48,32 41x9 'ハイスコア' 6pt 129
Form1/lblScore 56,40 41x11 '1000ms' 8.25pt 34
Form1/Label2 8,8 41x41 'Enterで開始します。' 9pt 33
Form1/cmdStart 64,0 33x17 'スタート' 5.25pt italic 0
Form1/cmdEnd 64,16 33x17 '終了' 5.25pt 0
Form1/Frame1 48,0 49x57 '成績' 9pt 1
Frame1/lblBatu 8,16 33x17 '誤:0' 9pt 129
Frame1/lblMaru 8,32 33x17 '正:0' 9pt 129
Form1/txtMoji 16,128 33x30 '' 20.25pt 129
Form1/Command1 48,48 49x12 'スコア消去' 6pt 0)"));
        QVERIFY(idle() && get(Control::cmdStart)->toolTip().startsWith(QStringLiteral("スタートボタンを押したら")));
        for (const char *next : {"cmdEnd", "Command1", "cmdStart"}) // the text box is disabled, so Tab skips it
            QCOMPARE((press(Qt::Key_Tab), w->focusWidget()->objectName()), next);
    }

    void aWholeGame_data()
    {
        QTest::addColumn<float>("draw");        // the random value every letter is drawn with
        QTest::addColumn<QStringList>("wrong"); // pasted on the first letter, each judged alone; @ is the letter
        QTest::addColumn<double>("seconds");    // from the start to the finish
        QTest::addColumn<QByteArray>("stored"); // the settings file before the game
        QTest::addColumn<QString>("figures");
        QTest::addColumn<QString>("best"); // shown before > shown after [in red], and what is stored then
        const QByteArray none;
        const QStringList no;
        const QString record = "1000ms > 500ms red, stored 500";
        QTest::newRow("a clean 13 s game is a record") << 0.0f << no << 13.0 << none << "100 500 7200 9" << record;
        // robustness: the letter typed in upper case, twice, in full width, a control character or a 1 MB paste | one wrong keystroke; the box is cleared and the same letter stays | the counts and the letter
        QTest::newRow("five wrong pastes") << 0.5f << QStringList{"^", "@@", "~", "\x01", QString(1 << 20, u'@')} << 13.0 << none << "83 500 7200 9" << record;
        QTest::newRow("accuracy rounds down") << 0.99999994f << QStringList{"^"} << 13.0 << best("600") << "96 500 7200 9" << "600ms > 500ms red, stored 500";
        // robustness: a random generator that returns 1.0 | still draws every letter once, never past the deck | the game
        QTest::newRow("a generator that returns 1") << 1.0f << no << 26.0 << none << "100 1000 3600 4" << "1000ms > 1000ms, stored none";
        QTest::newRow("an equal time is no record") << 0.3f << no << 13.0 << best("500") << "100 500 7200 9" << "500ms > 500ms, stored 500";
        QTest::newRow("a slower game, by a best edited by hand") << 0.0f << no << 13.0 << QByteArray("[スコア]\n速さ = 384.5 \n") << "100 500 7200 9" << "384.5ms > 384.5ms, stored 384.5";
        // robustness: a stored best time that is empty, letters, "NaN", "inf", negative, zero, too large for a float or binary | starts with 1000 ms, as on a first run | loading never writes the file
        for (const char *bad : {"", "abc", "NaN", "inf", "-5", "0", "1e39", "\x01\x02"})
            QTest::addRow("stored '%s'", bad) << 0.0f << no << 13.0 << best(bad) << "100 500 7200 9" << record;
        // robustness: a settings file that is damaged, cut short, binary, or holds a list or a typed value | starts with what still reads as a number, else 1000 ms | the file until a record replaces it
        QTest::newRow("cut short") << 0.0f << no << 13.0 << kStored.chopped(3) << "100 500 7200 9" << "3ms > 3ms, stored 3";
        QTest::newRow("damaged around the value") << 0.0f << no << 13.0 << "\x01\xff]]==\n" + kStored + "[[\x02" << "100 500 7200 9" << "384ms > 384ms, stored 384";
        for (const char *odd : {"\x7f" "ELF\x02\x01\x01", "[スコア]\n速さ=384, 500\n", "[スコア]\n速さ=@ByteArray(384)\n"})
            QTest::addRow("holding %s", odd) << 0.0f << no << 13.0 << QByteArray(odd) << "100 500 7200 9" << record;
        // robustness: a folder, a FIFO, a link to a folder or a broken link where the settings file should be | starts with 1000 ms without blocking | a record replaces a FIFO or fills in a broken link, and is kept in memory otherwise
        // robustness: a record the settings file cannot take | shows and counts the record for the rest of the run | the record, in memory
        QTest::newRow("a folder") << 0.0f << no << 13.0 << QByteArray("dir") << "100 500 7200 9" << "1000ms > 500ms red, stored none";
        QTest::newRow("a FIFO") << 0.0f << no << 13.0 << QByteArray("fifo") << "100 500 7200 9" << record;
        QTest::newRow("a link to a folder") << 0.0f << no << 13.0 << QByteArray("link:.") << "100 500 7200 9" << "1000ms > 500ms red, stored none";
        QTest::newRow("a broken link") << 0.0f << no << 13.0 << QByteArray("link:gone") << "100 500 7200 9" << record;
        // robustness: a clock that jumps back across midnight, stands still, or reads NaN | reports the game, never records it | the previous best time
        for (double fault : {-86000.0, 0.0, double(NAN)})
            QTest::addRow("clock fault %g", fault) << 0.0f << no << fault << none << "100 1 3600000 4500" << "1000ms > 1000ms, stored none";
        // robustness: 40 000 wrong keystrokes on one letter | the wrong count stops at 32767; the game finishes with an accuracy of 0 % | the game and the best time
        QTest::newRow("40000 wrong keys") << 0.0f << QStringList(40000, "^") << 13.0 << none << "0 500 7200 9" << record;
    }
    // robustness: timer ticks while the result box is open | one result box, one save | the best time, saved once
    void aWholeGame()
    {
        QFETCH(float, draw); QFETCH(QStringList, wrong); QFETCH(double, seconds); QFETCH(QByteArray, stored); QFETCH(QString, figures); QFETCH(QString, best);
        open(stored);
        const QString before = text(Control::lblScore);
        if (QFileInfo(file).isFile())
            QCOMPARE(bytes(file), stored);
        random.value = draw;
        const QColor base = get(Control::Form1)->palette().color(QPalette::Window);
        press(Qt::Key_Return); // the start button holds the focus
        QVERIFY(idle(false) && w->timer().isActive());
        w->timer().stop(); // the test ticks, until the result box
        QString seen;
        for (int n = 1; n <= 26; ++n) {
            tick();
            seen += text(Control::lblMoji);
            tick(); // nothing typed yet: nothing happens
            for (int i = 0; n == 1 && i < wrong.size(); ++i) {
                // ^ stands for the letter in upper case and ~ in full width
                static_cast<QLineEdit *>(get(Control::txtMoji))
                    ->insert(QString(wrong[i]).replace(u'@', seen).replace(u'^', seen.toUpper()).replace(u'~', QChar(seen[0].unicode() + 0xFEE0)));
                tick();
                QVERIFY(i > 4 || (painted(Qt::red) && cues.played.back() == cue("wrong.wav") && text(Control::lblMoji) == seen && text(Control::txtMoji).isEmpty()));
            }
            if (n == 1 && !wrong.isEmpty())
                QCOMPARE(text(Control::lblBatu), QStringLiteral("誤：%1").arg(std::min(wrong.size(), qsizetype(32767))));
            press(seen.back().toUpper().unicode(), seen.back());
            tick();
            QCOMPARE(text(Control::lblMaru), QStringLiteral("正：%1").arg(n));
            QVERIFY(painted(base) && text(Control::txtMoji).isEmpty() && cues.played.back() == cue("key.wav"));
        }
        std::sort(seen.begin(), seen.end());
        QCOMPARE(seen, "abcdefghijklmnopqrstuvwxyz");
        tick(); // finds the deck empty; the result comes on the tick after
        clock.time += seconds;
        w->timer().start();
        tick();
        const QStringList f = figures.split(u' ');
        QCOMPARE(boxes, QStringList{QStringLiteral("モジタン|あなたの正解率は%1%です。\n一文字あたりの速さ:%2ミリ秒\n１時間で%3文字、"
                                                   "打てます。\n原稿用紙にして、%4枚です。|1024|0").arg(f[0], f[1], f[2], f[3])});
        const bool red = get(Control::lblScore)->palette().color(QPalette::WindowText) == QColor(Qt::red);
        const QString saved = QString::fromStdString(SettingsScoreStore().read().value_or("none"));
        QCOMPARE(QStringLiteral("%1 > %2%3, stored %4").arg(before, text(Control::lblScore), red ? " red" : "", saved), best);
        QCOMPARE(cues.played.size(), 26 + wrong.size() + red);
        QCOMPARE(cues.played.back() == cue("win.wav"), red);
        QVERIFY(idle() && !w->timer().isActive() && text(Control::lblMoji).isEmpty());
        press(Qt::Key_Return); // the next game starts at once, its best time in black again
        QVERIFY(idle(false) && w->timer().isActive());
        QCOMPARE(get(Control::lblScore)->palette().color(QPalette::WindowText), QColor(Qt::black));
    }

    void aSaveReplacesTheFileWholeOrNotAtAll_data()
    {
        QTest::addColumn<int>("fault");
        int fault = 0;
        // robustness: a read-only settings file or folder, a file where its folder should be, or a disk that fills up while saving | plays on; one line on standard error per run | the old stored value, whole
        for (const char *row : {"none: the record is saved", "a read-only file", "a read-only folder", "a file where the folder should be", "a disk that fills up"})
            QTest::newRow(row) << fault++;
    }
    void aSaveReplacesTheFileWholeOrNotAtAll()
    {
        QFETCH(int, fault);
        put(kStored);
        const QString folder = QFileInfo(file).absolutePath();
        QFile::setPermissions(file, QFileDevice::Permissions(fault == 1 ? 0x4444 : 0x6666));
        QFile::setPermissions(folder, QFileDevice::Permissions(fault == 2 ? 0x5555 : 0x7777));
        if (fault == 3)
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(file));
        // The player's side runs in a child, as an ordinary user: root would write anyway.
        int errors[2];
        QVERIFY(pipe(errors) == 0);
        if (fork() == 0) {
            const rlimit room{fault == 4 ? 16 : RLIM_INFINITY, fault == 4 ? 16 : RLIM_INFINITY};
            const bool player = signal(SIGXFSZ, SIG_IGN) != SIG_ERR && dup2(errors[1], 2) == 2 && setrlimit(RLIMIT_FSIZE, &room) == 0
                && (geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0));
            SettingsScoreStore store;
            _exit(player && store.write("600") + store.write("500") == 2 * !fault ? 0 : 1);
        }
        close(errors[1]);
        QFile said;
        QVERIFY(said.open(errors[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QByteArray text = said.readAll(); // until the child has gone
        int status = -1;
        QCOMPARE((wait(&status), status), 0);
        QVERIFY2(fault ? text.startsWith("mojitan: cannot save the best time in ") && text.count('\n') == 1 : text.isEmpty(), text);
        QCOMPARE(bytes(file), fault ? kStored : QByteArray(kStored).replace("384", "500"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"モジタン.conf"});
    }
};

QTEST_MAIN(GameTest)
#include "tst_game.moc"
