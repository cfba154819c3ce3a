// Keystroke to screen, measured inside a real window on a real X server. Keys go in through
// XTest as a player's do, the game runs on its own 1 ms timer with the steady clock, the
// stored score and the sound it ships with, and a frame counts once the X server has drawn it.
//
//   bench_keys game <games>  whole games, a few wrong keys in each; every result box is read
//   bench_keys echo <keys>   the same kind of keys to a bare window that shows each key at once
//
// Prints one line per measurement, times in nanoseconds:
//   sample <series> <ns>
//   game <ms per letter> <letters per hour> <accuracy> <expected accuracy> <true ns>
//   error <what went wrong>
#include "baselinewindow.h"
#include "keysender.h"
#include "mainwindow.h"
#include "probeapp.h"
#include "sdlcueplayer.h"
#include "settingsscorestore.h"
#include "stats.h"
#include "systemservices.h"
#include "xkeyboard.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace mojitan;
using namespace mojitan::bench;

namespace {

// Between one answer on the screen and the next key: a fast typist's pace, drawn at random so
// that keys fall anywhere within the game's tick.
constexpr double kMinGapMs = 1.0;
constexpr double kMaxGapMs = 6.0;
// Wrong keys per game, each typed before some letter's right key.
constexpr int kWrongPerGame = 3;
// A key whose answer has not been drawn after this long is lost: the run has failed.
constexpr int kLostKeyMs = 3000;

[[noreturn]] void fail(const std::string &why)
{
    std::printf("error %s\n", why.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

std::uint32_t keysymOf(const QString &letter)
{
    // Latin-1 letters have keysyms equal to their code.
    return letter.size() == 1 ? std::uint32_t(letter.at(0).unicode()) : 0;
}

// The real cue player, with the moment of each call noted: when the game judged a key.
class TimedCues : public CuePlayer {
public:
    explicit TimedCues(CuePlayer &player) : m_player(player) {}
    void play(const std::string &path) override
    {
        lastCallNs = nowNs();
        m_player.play(path);
    }
    long long lastCallNs = 0;

private:
    CuePlayer &m_player;
};

class Samples {
public:
    void add(const std::string &series, long long ns) { m_series[series].push_back(ns); }
    void print() const
    {
        for (const auto &[series, values] : m_series)
            for (long long v : values)
                std::printf("sample %s %lld\n", series.c_str(), v);
    }

private:
    std::map<std::string, std::vector<long long>> m_series;
};

// Common to both runs: the keyboard, the random gaps, and the wait for a window to be on
// screen with the keyboard focus.
class Bench : public QObject {
public:
    Bench(ProbeApplication &app, XKeyboard &keyboard)
        : m_app(app), m_keyboard(keyboard), m_sender(keyboard), m_random(std::random_device{}())
    {
        m_lost.setSingleShot(true);
        connect(&m_lost, &QTimer::timeout, this, [] { fail("a key was lost: no answer on screen"); });
    }

protected:
    // Runs `then` once `window` is shown and has the keyboard, given to it as a window
    // manager would (there is none on this server).
    void whenFocused(QWidget *window, std::function<void()> then)
    {
        auto *poll = new QTimer(this);
        const long long deadline = nowNs() + 5'000'000'000LL;
        long long lastAsk = 0;
        connect(poll, &QTimer::timeout, this, [=, this]() mutable {
            QWindow *handle = window->windowHandle();
            if (handle && handle->isExposed() && QGuiApplication::focusWindow() == handle) {
                poll->deleteLater();
                poll->stop();
                then();
                return;
            }
            if (nowNs() > deadline)
                fail("the window never got the keyboard focus");
            if (handle && handle->isExposed() && nowNs() - lastAsk > 200'000'000) {
                lastAsk = nowNs();
                m_keyboard.focus(xcb_window_t(window->winId()));
            }
        });
        poll->start(1);
    }

    // Types a key after a random gap.
    void typeSoon(std::uint32_t keysym)
    {
        if (!keysym)
            fail("no key for this letter");
        std::uniform_real_distribution<double> gap(kMinGapMs, kMaxGapMs);
        m_keyAtWindowNs = 0;
        m_sender.typeAt(nowNs() + (long long)(gap(m_random) * 1e6), keysym);
        m_lost.start(kLostKeyMs);
    }

    // A letter other than `shown`.
    QString otherLetter(const QString &shown)
    {
        std::uniform_int_distribution<int> pick(0, 25);
        QString letter;
        do
            letter = QChar(u'a' + pick(m_random));
        while (letter == shown);
        return letter;
    }

    // The key event's arrival at the window: the start of every measured stretch.
    void noteKey(QObject *receiver, QEvent *event, QWidget *window)
    {
        if (event->type() == QEvent::KeyPress && receiver == window->windowHandle()
            && m_keyAtWindowNs == 0) {
            m_keyAtWindowNs = nowNs();
            m_tickAfterKey = false;
        }
    }

    ProbeApplication &m_app;
    XKeyboard &m_keyboard;
    KeySender m_sender;
    std::mt19937 m_random;
    QTimer m_lost;
    Samples m_samples;
    long long m_keyAtWindowNs = 0;
    bool m_tickAfterKey = false;
};

// Whole games in the game's own window.
class GameBench : public Bench {
public:
    GameBench(ProbeApplication &app, XKeyboard &keyboard, MainWindow &window, TimedCues &cues,
              int games)
        : Bench(app, keyboard), m_window(window), m_cues(cues), m_games(games)
    {
        m_lblMoji = qobject_cast<QLabel *>(window.control(Control::lblMoji));
        app.onEvent = [this](QObject *r, QEvent *e) { onEvent(r, e); };
        app.onFrameShown = [this](long long ns) { onFrameShown(ns); };
        app.onEventDone = [this](QObject *r, QEvent *e, long long began) {
            // How long the window took over a key event, the input box's handling included.
            if (e->type() == QEvent::KeyPress && r == m_window.windowHandle())
                m_samples.add(series("key_handled"), nowNs() - began);
        };
    }

    void start() { startGame(); }

private:
    enum class Phase { Idle, First, Letter, Red, Box };

    // The first game also pays for what a process does once: the letters' glyphs drawn for
    // the first time, caches filled. Its keys are kept apart from the others.
    std::string series(const char *name) const
    {
        return (m_game == 1 ? std::string("first_") : std::string()) + name;
    }

    void startGame()
    {
        ++m_game;
        m_correct = 0;
        m_wrongs = 0;
        m_wrongDone = false;
        m_wrongBefore.clear();
        std::uniform_int_distribution<int> letter(0, kLetterCount - 1);
        while (int(m_wrongBefore.size()) < kWrongPerGame)
            m_wrongBefore.insert(letter(m_random));
        whenFocused(&m_window, [this] {
            if (m_window.focusWidget() != m_window.control(Control::cmdStart))
                fail("the start button does not have the focus");
            m_phase = Phase::First;
            typeSoon(kKeysymReturn);
        });
    }

    void onEvent(QObject *receiver, QEvent *event)
    {
        const bool fresh = m_keyAtWindowNs == 0;
        noteKey(receiver, event, &m_window);
        if (fresh && m_keyAtWindowNs)
            m_samples.add(series("send_to_window"), m_keyAtWindowNs - m_sender.sentNs());
        switch (event->type()) {
        case QEvent::Paint:
            if (receiver == m_lblMoji) {
                m_paintedText = m_lblMoji->text();
                m_letterPainted = true;
                m_app.watchThisFrame();
            } else if (receiver == &m_window
                       && m_window.palette().color(QPalette::Window) == QColor(255, 0, 0)) {
                m_redPainted = true;
                m_app.watchThisFrame();
            }
            break;
        case QEvent::Timer:
            if (receiver == &m_window.timer() && m_phase != Phase::Idle) {
                const long long now = nowNs();
                if (m_lastTickNs)
                    m_samples.add(series("tick"), now - m_lastTickNs);
                m_lastTickNs = now;
                // The first tick that could judge the key: how long the key waited for it.
                if (m_keyAtWindowNs && !m_tickAfterKey) {
                    m_tickAfterKey = true;
                    m_samples.add(series("key_to_tick"), now - m_keyAtWindowNs);
                }
            }
            break;
        case QEvent::Show:
            if (auto *box = qobject_cast<QMessageBox *>(receiver))
                onResultBox(box);
            break;
        default:
            break;
        }
    }

    void onFrameShown(long long ns)
    {
        if (m_letterPainted) {
            m_letterPainted = false;
            if (m_paintedText != m_shown) {
                m_shown = m_paintedText;
                if (!m_shown.isEmpty())
                    onLetter(ns);
            }
        }
        if (m_redPainted) {
            m_redPainted = false;
            if (m_phase == Phase::Red) {
                m_samples.add(series("wrong"), ns - m_keyAtWindowNs);
                if (m_cues.lastCallNs > m_keyAtWindowNs)
                    m_samples.add(series("wrong_judged"), m_cues.lastCallNs - m_keyAtWindowNs);
                typeNext();
            }
        }
    }

    void onLetter(long long ns)
    {
        if (m_keyAtWindowNs == 0)
            fail("a letter appeared before its key reached the window");
        switch (m_phase) {
        case Phase::First:
            m_enterSentNs = m_sender.sentNs();
            m_samples.add(series("enter"), ns - m_keyAtWindowNs);
            break;
        case Phase::Letter:
            m_samples.add(series("correct"), ns - m_keyAtWindowNs);
            m_samples.add(series("correct_send"), ns - m_sender.sentNs());
            if (m_cues.lastCallNs > m_keyAtWindowNs)
                m_samples.add(series("correct_judged"), m_cues.lastCallNs - m_keyAtWindowNs);
            break;
        default:
            fail("a new letter appeared without a right key");
        }
        typeNext();
    }

    void typeNext()
    {
        m_lost.stop();
        if (m_wrongBefore.count(m_correct) && !m_wrongDone) {
            m_wrongDone = true;
            ++m_wrongs;
            m_phase = Phase::Red;
            typeSoon(keysymOf(otherLetter(m_shown)));
            return;
        }
        m_wrongDone = false;
        ++m_correct;
        m_phase = m_correct == kLetterCount ? Phase::Box : Phase::Letter;
        typeSoon(keysymOf(m_shown));
    }

    void onResultBox(QMessageBox *box)
    {
        if (m_phase != Phase::Box)
            fail("a message box appeared in the middle of a game");
        m_lost.stop();
        const long long trueNs = m_sender.sentNs() - m_enterSentNs;
        const QString text = box->text();
        const auto number = [&](const QString &pattern) {
            const QRegularExpressionMatch m = QRegularExpression(pattern).match(text);
            if (!m.hasMatch())
                fail("unexpected result text: " + text.toStdString());
            return m.captured(1).toLongLong();
        };
        const long long perLetter = number(QStringLiteral("一文字あたりの速さ:(-?\\d+)ミリ秒"));
        const long long perHour = number(QStringLiteral("１時間で(-?\\d+)文字"));
        const long long accuracy = number(QStringLiteral("正解率は(-?\\d+)%"));
        const int expected = kLetterCount * 100 / (kLetterCount + m_wrongs);
        std::printf("game %lld %lld %lld %d %lld\n", perLetter, perHour, accuracy, expected, trueNs);

        // Closed from its own event loop, once that runs, as the player's Enter would.
        QPointer<QMessageBox> guard(box);
        QTimer::singleShot(0, box, [guard] {
            if (guard)
                guard->done(QMessageBox::Ok);
        });
        m_phase = Phase::Idle;
        m_lastTickNs = 0;
        if (m_game < m_games) {
            QTimer::singleShot(20, this, [this] { startGame(); });
        } else {
            QTimer::singleShot(20, this, [this] {
                m_samples.print();
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
    }

    MainWindow &m_window;
    TimedCues &m_cues;
    QLabel *m_lblMoji = nullptr;
    const int m_games;
    int m_game = 0;
    Phase m_phase = Phase::Idle;
    int m_correct = 0;
    int m_wrongs = 0;
    bool m_wrongDone = false;
    std::set<int> m_wrongBefore;
    QString m_shown;
    QString m_paintedText;
    bool m_letterPainted = false;
    bool m_redPainted = false;
    long long m_enterSentNs = 0;
    long long m_lastTickNs = 0;
};

// The same keys to a bare window that shows each one in a label straight from the key event.
// Its first 26 keys load the label's font and draw glyphs for the first time; they are kept
// apart, as the game's first game is, and come on top of the keys asked for.
class EchoBench : public Bench {
public:
    EchoBench(ProbeApplication &app, XKeyboard &keyboard, BaselineWindow &window, int keys)
        : Bench(app, keyboard), m_window(window), m_keys(keys)
    {
        app.onEvent = [this](QObject *r, QEvent *e) {
            const bool fresh = m_keyAtWindowNs == 0;
            noteKey(r, e, &m_window);
            if (fresh && m_keyAtWindowNs && m_typed > kLetterCount)
                m_samples.add("echo_send_to_window", m_keyAtWindowNs - m_sender.sentNs());
            if (e->type() == QEvent::Paint && r == m_window.echo()) {
                m_painted = m_window.echo()->text();
                m_app.watchThisFrame();
            }
        };
        app.onFrameShown = [this](long long ns) {
            if (m_painted != m_expected || m_expected.isEmpty())
                return;
            const std::string prefix = m_typed <= kLetterCount ? "first_" : "";
            m_samples.add(prefix + "echo", ns - m_keyAtWindowNs);
            m_samples.add(prefix + "echo_send", ns - m_sender.sentNs());
            m_expected.clear();
            m_lost.stop();
            next();
        };
    }

    void start()
    {
        whenFocused(&m_window, [this] { next(); });
    }

private:
    void next()
    {
        if (m_typed == m_keys + kLetterCount) {
            m_samples.print();
            std::fflush(stdout);
            QCoreApplication::exit(0);
            return;
        }
        ++m_typed;
        m_expected = otherLetter(m_window.echo()->text());
        typeSoon(keysymOf(m_expected));
    }

    BaselineWindow &m_window;
    const int m_keys;
    int m_typed = 0;
    QString m_expected;
    QString m_painted;
};

} // namespace

int main(int argc, char *argv[])
{
    ProbeApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 || (args[1] != QLatin1String("game") && args[1] != QLatin1String("echo"))) {
        std::fprintf(stderr, "usage: bench_keys game <games> | echo <keys>\n");
        return 2;
    }
    XKeyboard keyboard;
    if (!keyboard.error().empty())
        fail(keyboard.error());
    const int count = args[2].toInt();

    if (args[1] == QLatin1String("echo")) {
        BaselineWindow window(true);
        window.show();
        EchoBench bench(app, keyboard, window, count);
        bench.start();
        return QApplication::exec();
    }

    // Put together as the game's own main() does: sound first, then the window.
    const std::string sounds = QApplication::applicationDirPath().toStdString() + "/sound/";
    SdlCuePlayer player;
    if (!player.isOpen())
        fail("no sound device");
    for (const char *name : {"key.wav", "wrong.wav", "win.wav"})
        player.preload(sounds + name);
    TimedCues cues(player);
    SteadyClock clock;
    ClockSeededRandom random;
    SettingsScoreStore store;
    MainWindow window(clock, random, cues, store);
    window.show();
    GameBench bench(app, keyboard, window, cues, count);
    bench.start();
    return QApplication::exec();
}
