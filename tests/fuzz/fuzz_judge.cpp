// Whatever a player types, the game keeps its rules. The fuzzer's bytes are a script of
// what the player and the clock do to a real game in a headless window; after every step
// the game must still hold together: the state code is one of four, the counts only rise
// during a game, a key is right only when the typed text is exactly the letter shown, and
// from wherever the script leaves it a player who types the letters shown can finish.
//
// The script: each byte picks a move, and some moves read more bytes (a read past the end
// gives 0). A byte that is not one of the letters below picks a move by its value, so every
// input is a script; seeds written with the letters stay readable. Pastes and leaning on the
// keyboard come only from their own letters.
//   H n <n bytes>   (first byte only) the store already holds those bytes
//   E               Enter on the focused button
//   S               a click on the start button
//   C r             a click on the clear button, answered Yes when r is odd
//   F c             the focus to button or box number c % 4
//   t               one tick
//   T n             n % 16 + 1 ticks
//   k               type the letter shown, then a tick
//   K               type every letter shown until this game ends
//   y n <n bytes>   type those bytes
//   Y n <n bytes>   type those bytes, then a tick
//   P n <bytes> e   paste n % 16 + 1 bytes repeated to fill 2^(e % 16) bytes, or for e from
//                   240 up 2^(16 + (e - 240) % 5): 64 KiB to 1 MiB, the last two seldom
//   L n             lean on the keyboard: n % 64 + 1 wrong keys, each judged by a tick
//   u               type the letter shown in upper case
//   x b             type the letter shown with byte b after it (before it, when b is odd)
//   c n             n * 10 ms pass
//   j <8 bytes>     the clock jumps to that double, whatever it is
//   b n             n % 8 ticks arrive while each message box is open
//   w               the store stops (or starts again) taking writes
//   r <4 bytes>     the letter generator is seeded again
//   R               the program ends and starts again
#include "fakes.h"
#include "fuzzcheck.h"
#include "game.h"
#include "headlesswindow.h"
#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>

using namespace mojitan;
using namespace mojitan::testing;

namespace {

constexpr char kMoves[] = "ESCFtTkKyYuxcjbwrR";
// Moves that take thousands of ticks or megabytes come only from their own letter, so that
// most inputs stay quick and the fuzzer tries many of them.
constexpr char kHeavyMoves[] = "PL";
// Keep each input quick, so the fuzzer spends its minute on many inputs, not a few long ones.
constexpr std::size_t kTypedBudget = std::size_t(4) << 20;
constexpr long kTickBudget = 40000;
constexpr std::size_t kShortText = 64;
constexpr std::int16_t kMaxWrong = std::numeric_limits<std::int16_t>::max();

class Script {
public:
    Script(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::string bytes(std::size_t count)
    {
        const std::size_t n = std::min(count, m_size - std::min(m_pos, m_size));
        std::string out(reinterpret_cast<const char *>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Deterministic, and every value in [0, 1) that a float with a 24-bit step can hold,
// the largest one below 1 included.
class SeededRandom : public Random {
public:
    void seedFromClock() override {}
    float next() override
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return float(m_state >> 40) / float(1U << 24);
    }
    void seed(std::uint32_t value) { m_state = value; }

private:
    std::uint64_t m_state = 0x9e3779b97f4a7c15ULL;
};

class CountingCues : public CuePlayer {
public:
    void play(const std::string &path) override
    {
        ++count;
        last = path;
    }
    std::size_t count = 0;
    std::string last;
};

// The program: one window and its game, wired as the real window wires them.
struct Program {
    explicit Program(Clock &clock, Random &random, CuePlayer &cues, ScoreStore &store)
        : game(window, clock, random, cues, store)
    {
        window.onGotFocus = [this](Control c) {
            if (c == Control::cmdStart)
                game.cmdStart_GotFocus();
            else if (c == Control::cmdEnd)
                game.cmdEnd_GotFocus();
        };
        game.Form_Load("/opt/mojitan");
    }
    HeadlessWindow window;
    Game game;
};

// What a step may change, taken before and after it.
struct Snapshot {
    std::int16_t mode;
    std::int16_t maru;
    std::int16_t batu;
    std::int16_t left;
    std::size_t typedSize;
    std::string typed; // the box's text when short; a long paste can never equal a letter
    std::string shown;
    std::size_t cues;
    std::size_t boxes;
    float hiScore;
    friend bool operator==(const Snapshot &, const Snapshot &) = default;
};

bool endsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class Run {
public:
    explicit Run(Script &script) : m_script(script)
    {
        if (!m_script.atEnd() && peekIs('H')) {
            m_script.byte();
            m_store.value = m_script.bytes(m_script.byte());
        }
        start();
    }

    void play()
    {
        while (!m_script.atEnd())
            move(m_script.byte());
        finishFromHere();
    }

private:
    bool peekIs(char c)
    {
        Script copy = m_script;
        return copy.byte() == std::uint8_t(c);
    }

    HeadlessWindow &window() { return m_program->window; }
    Game &game() { return m_program->game; }
    const GameState &state() { return m_program->game.state(); }

    void start()
    {
        m_program.reset();
        m_program = std::make_unique<Program>(m_clock, m_random, m_cues, m_store);
        window().onClick = [this](Control c) { click(c); };
        window().whileMessageBoxOpen = [this] { ticksInsideMessageBox(); };
        m_best = state().HiScore;
        m_shownThisGame.clear();
        FUZZ_REQUIRE(m_best == parseHiScore(m_store.value.value_or("1000")),
                     "the best time loaded is not the one stored");
        checkIdle();
    }

    Snapshot snapshot()
    {
        const GameState &s = state();
        // Read in place: copying a megabyte paste at every step would slow the fuzzer down.
        const std::string &typed = window().control(Control::txtMoji).text;
        return {s.Mode, s.MaruCount, s.BatuCount, s.MojiLeft, typed.size(),
                typed.size() <= kShortText ? typed : std::string(),
                window().caption(Control::lblMoji), m_cues.count, window().messages().size(), s.HiScore};
    }

    void click(Control c)
    {
        if (c == Control::cmdStart) {
            game().cmdStart_Click();
        } else if (c == Control::Command1) {
            const float before = state().HiScore;
            // An unscripted box is answered with its default button, Yes.
            const bool yes = window().replies.empty() || window().replies.front() == kReplyYes;
            game().Command1_Click();
            if (yes) {
                FUZZ_REQUIRE(state().HiScore == kDefaultHiScore, "clearing did not reset the best time");
                m_best = kDefaultHiScore;
            } else {
                FUZZ_REQUIRE(state().HiScore == before, "answering No changed the best time");
            }
            FUZZ_REQUIRE(window().focus() == Control::cmdStart, "the focus did not return to start");
        } else if (c == Control::cmdEnd) {
            // The program ends; the player starts it again once this click has returned.
            m_restart = true;
        }
    }

    // A mouse click focuses a button and clicks it, if the player can see it.
    void clickWithMouse(Control c)
    {
        if (!window().isShown(c) || !window().control(c).enabled)
            return;
        window().setFocus(c);
        click(c);
    }

    bool type(const std::string &text)
    {
        if (m_typed + text.size() > kTypedBudget)
            return false;
        m_typed += text.size();
        const Snapshot before = snapshot();
        const bool taken = window().type(text);
        const Snapshot after = snapshot();
        FUZZ_REQUIRE(after.mode == before.mode && after.maru == before.maru
                         && after.batu == before.batu && after.cues == before.cues,
                     "typing changed the game before a tick judged it");
        if (taken)
            FUZZ_REQUIRE(after.typedSize == before.typedSize + text.size()
                             && endsWith(window().control(Control::txtMoji).text, text),
                         "the typed text did not reach the box");
        return taken;
    }

    void ticksInsideMessageBox()
    {
        for (int i = 0; i < m_boxTicks; ++i) {
            const Snapshot before = snapshot();
            game().Timer1_Timer();
            FUZZ_REQUIRE(snapshot() == before, "a tick inside the result box changed the game");
        }
    }

    void tick()
    {
        if (m_ticks >= kTickBudget)
            return;
        ++m_ticks;
        const Snapshot before = snapshot();
        game().Timer1_Timer();
        const Snapshot after = snapshot();
        window().clearOperations();

        FUZZ_REQUIRE(after.mode >= ModeIdle && after.mode <= ModeFinish, "the state code left 0..3");
        FUZZ_REQUIRE(after.maru >= 0 && after.maru <= kLetterCount, "the right count left 0..26");
        FUZZ_REQUIRE(after.batu >= 0, "the wrong count went negative");
        FUZZ_REQUIRE(std::isfinite(after.hiScore) && after.hiScore > 0, "the best time became unusable");

        switch (before.mode) {
        case ModeAwait:
            checkJudged(before, after);
            break;
        case ModeDraw:
            checkDrawn(before, after);
            break;
        case ModeFinish:
            checkFinished(before, after);
            break;
        default:
            FUZZ_REQUIRE(after == before, "an idle tick changed the game");
            break;
        }
    }

    void checkJudged(const Snapshot &before, const Snapshot &after)
    {
        if (before.typedSize == 0) {
            FUZZ_REQUIRE(after == before, "a tick with nothing typed changed the game");
            return;
        }
        FUZZ_REQUIRE(after.cues == before.cues + 1, "a judged key played no cue, or several");
        FUZZ_REQUIRE(after.typedSize == 0, "the judged text stayed in the box");
        if (before.typedSize == before.shown.size() && before.typed == before.shown) {
            FUZZ_REQUIRE(after.maru == before.maru + 1 && after.batu == before.batu,
                         "the letter shown did not count as right");
            FUZZ_REQUIRE(after.mode == ModeDraw, "a right key did not bring the next letter");
            FUZZ_REQUIRE(endsWith(m_cues.last, "/key.wav"), "a right key did not click");
            FUZZ_REQUIRE(window().caption(Control::lblMaru) == "正：" + std::to_string(after.maru),
                         "the right count shown is not the count");
            FUZZ_REQUIRE(window().backColor(Control::Form1) == Color::fromDouble(state().BaseColor),
                         "a right key left the window red");
        } else {
            FUZZ_REQUIRE(after.maru == before.maru, "a key that is not the letter shown counted as right");
            FUZZ_REQUIRE(after.batu == std::min<int>(before.batu + 1, kMaxWrong),
                         "a wrong key was not counted once");
            FUZZ_REQUIRE(after.mode == ModeAwait && after.shown == before.shown,
                         "a wrong key moved on from the letter");
            FUZZ_REQUIRE(endsWith(m_cues.last, "/wrong.wav"), "a wrong key did not buzz");
            FUZZ_REQUIRE(window().caption(Control::lblBatu) == "誤：" + std::to_string(after.batu),
                         "the wrong count shown is not the count");
            FUZZ_REQUIRE(window().backColor(Control::Form1) == kPureRed, "a wrong key did not turn the window red");
        }
    }

    void checkDrawn(const Snapshot &before, const Snapshot &after)
    {
        FUZZ_REQUIRE(after.maru == before.maru && after.batu == before.batu && after.cues == before.cues,
                     "drawing a letter changed the counts");
        if (before.left < 0) {
            FUZZ_REQUIRE(after.mode == ModeFinish, "an empty deck did not end the game");
            FUZZ_REQUIRE(before.maru == kLetterCount, "the deck ran out before 26 right keys");
            return;
        }
        FUZZ_REQUIRE(after.mode == ModeAwait && after.left == before.left - 1, "no letter was drawn");
        FUZZ_REQUIRE(after.shown.size() == 1 && after.shown[0] >= 'a' && after.shown[0] <= 'z',
                     "the letter shown is not one of a to z");
        FUZZ_REQUIRE(m_shownThisGame.insert(after.shown[0]).second, "a letter came twice in one game");
        FUZZ_REQUIRE(window().focus() == Control::txtMoji, "a new letter left the box without the focus");
    }

    void checkFinished(const Snapshot &before, const Snapshot &after)
    {
        FUZZ_REQUIRE(after.boxes == before.boxes + 1, "the finish showed no result box");
        FUZZ_REQUIRE(after.mode == ModeIdle && after.maru == 0 && after.batu == 0,
                     "the finish did not reset the game");
        FUZZ_REQUIRE(window().timerInterval() == 0, "the tick still runs after the finish");
        const std::string accuracy = "あなたの正解率は"
            + std::to_string(2600 / (kLetterCount + int(before.batu))) + "%です。";
        FUZZ_REQUIRE(window().messages().back().text.rfind(accuracy, 0) == 0,
                     "the accuracy in the result box is wrong");
        FUZZ_REQUIRE(after.hiScore <= before.hiScore, "a game made the best time worse");
        if (after.hiScore < before.hiScore) {
            FUZZ_REQUIRE(endsWith(m_cues.last, "/win.wav"), "a record played no fanfare");
            if (m_store.writable)
                FUZZ_REQUIRE(parseHiScore(m_store.value.value_or("")) == after.hiScore,
                             "the stored record does not read back as the record");
        }
        m_best = after.hiScore;
        m_shownThisGame.clear();
        checkIdle();
    }

    void checkIdle()
    {
        FUZZ_REQUIRE(state().Mode == ModeIdle, "not idle");
        FUZZ_REQUIRE(window().caption(Control::lblScore) == formatHiScore(state().HiScore) + "ms",
                     "the best time shown is not the best time");
        FUZZ_REQUIRE(window().isShown(Control::cmdStart) && window().control(Control::cmdStart).enabled,
                     "the idle window offers no way to start");
    }

    void typeShownAndTick()
    {
        type(window().caption(Control::lblMoji));
        tick();
    }

    // However the script left it, a player who types each letter shown ends the game.
    void finishFromHere()
    {
        // This needs its own few ticks and keys, whatever the script used up.
        m_ticks = 0;
        m_typed = 0;
        if (state().Mode == ModeIdle) {
            clickWithMouse(Control::cmdStart);
            FUZZ_REQUIRE(state().Mode == ModeDraw, "the start button did not start a game");
        }
        const std::size_t boxes = window().messages().size();
        for (int i = 0; i < 4 * kLetterCount + 4 && window().messages().size() == boxes; ++i) {
            if (state().Mode == ModeAwait)
                FUZZ_REQUIRE(type(window().caption(Control::lblMoji)), "the box does not take the player's keys");
            tick();
        }
        FUZZ_REQUIRE(window().messages().size() == boxes + 1, "the game cannot be finished");
    }

    void playOutThisGame()
    {
        const std::size_t boxes = window().messages().size();
        for (int i = 0; i < 4 * kLetterCount + 4 && state().Mode != ModeIdle
                        && window().messages().size() == boxes;
             ++i) {
            if (state().Mode == ModeAwait)
                type(window().caption(Control::lblMoji));
            tick();
        }
    }

    void move(std::uint8_t code)
    {
        const bool named = code != 0 && (std::strchr(kMoves, code) || std::strchr(kHeavyMoves, code));
        const char m = named ? char(code) : kMoves[code % (sizeof kMoves - 1)];
        const Snapshot before = snapshot();
        switch (m) {
        case 'E':
            if (const auto focus = window().focus(); focus == Control::Command1)
                window().replies.push_back(m_script.byte() & 1 ? kReplyYes : kReplyNo);
            window().pressEnter();
            break;
        case 'S':
            clickWithMouse(Control::cmdStart);
            break;
        case 'C':
            window().replies.clear();
            window().replies.push_back(m_script.byte() & 1 ? kReplyYes : kReplyNo);
            clickWithMouse(Control::Command1);
            window().replies.clear();
            break;
        case 'F': {
            constexpr Control kFocusable[] = {Control::cmdStart, Control::cmdEnd, Control::txtMoji,
                                              Control::Command1};
            window().setFocus(kFocusable[m_script.byte() % 4]);
            break;
        }
        case 't':
            tick();
            break;
        case 'T':
            for (int n = m_script.byte() % 16 + 1; n > 0; --n)
                tick();
            break;
        case 'k':
            typeShownAndTick();
            break;
        case 'K':
            playOutThisGame();
            break;
        case 'y':
            type(m_script.bytes(m_script.byte()));
            break;
        case 'Y':
            type(m_script.bytes(m_script.byte()));
            tick();
            break;
        case 'P': {
            const std::string chunk = m_script.bytes(m_script.byte() % 16 + 1);
            const std::uint8_t e = m_script.byte();
            const std::size_t total = std::size_t(1) << (e < 240 ? e % 16 : 16 + (e - 240) % 5);
            if (chunk.empty())
                break;
            std::string paste = chunk;
            while (paste.size() < total)
                paste += paste;
            paste.resize(total);
            type(paste);
            break;
        }
        case 'L': {
            const int count = m_script.byte() % 64 + 1;
            for (int i = 0; i < count && m_ticks < kTickBudget; ++i) {
                type(window().caption(Control::lblMoji) == "?" ? "!" : "?");
                tick();
            }
            break;
        }
        case 'u': {
            std::string upper = window().caption(Control::lblMoji);
            for (char &c : upper)
                if (c >= 'a' && c <= 'z')
                    c = char(c - 'a' + 'A');
            type(upper);
            break;
        }
        case 'x': {
            const std::uint8_t b = m_script.byte();
            const std::string letter = window().caption(Control::lblMoji);
            type(b & 1 ? std::string(1, char(b)) + letter : letter + std::string(1, char(b)));
            break;
        }
        case 'c':
            m_clock.time += m_script.byte() * 0.01;
            break;
        case 'j': {
            const std::string raw = m_script.bytes(sizeof(double));
            double value = 0;
            std::memcpy(&value, raw.data(), raw.size());
            m_clock.time = value;
            break;
        }
        case 'b':
            m_boxTicks = m_script.byte() % 8;
            break;
        case 'w':
            m_store.writable = !m_store.writable;
            break;
        case 'r': {
            std::uint32_t seed = 0;
            const std::string raw = m_script.bytes(sizeof seed);
            std::memcpy(&seed, raw.data(), raw.size());
            m_random.seed(seed);
            break;
        }
        case 'R':
            m_restart = true;
            break;
        }
        if (m_restart) {
            m_restart = false;
            start();
            return;
        }
        // Counts fall only when a game ends and the next is set up; the best time changes
        // only with a record, a clear, or a new start.
        const Snapshot after = snapshot();
        if (after.boxes == before.boxes)
            FUZZ_REQUIRE(after.maru >= before.maru && after.batu >= before.batu, "a count fell during a game");
        FUZZ_REQUIRE(after.hiScore == m_best, "the best time changed without a record or a clear");
    }

    Script &m_script;
    FakeClock m_clock;
    SeededRandom m_random;
    CountingCues m_cues;
    MemoryStore m_store;
    std::unique_ptr<Program> m_program;
    std::set<char> m_shownThisGame;
    float m_best = kDefaultHiScore; // what the best time must be: loaded, recorded or cleared
    int m_boxTicks = 0;
    bool m_restart = false;
    long m_ticks = 0;
    std::size_t m_typed = 0;
};

} // namespace

// robustness: arbitrary typing: invalid UTF-8, control characters, pastes up to 1 MiB, clock jumps, ticks in the result box, a refusing store (fuzzed for a minute in every test run) | judges each as one keystroke; counts only rise; the game can always be finished | the deck, the counts and the record
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Script script(data, size);
    Run run(script);
    run.play();
    return 0;
}
