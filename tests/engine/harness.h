#pragma once

#include "game.h"
#include "headlesswindow.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace mojitan::testing {

class FakeClock : public Clock {
public:
    double now() override { return time; }
    double time = 0;
};

// Plays back the values it is given, then zeros.
class ScriptedRandom : public Random {
public:
    void seedFromClock() override { ++seeds; }
    float next() override
    {
        if (values.empty())
            return 0.0f;
        const float value = values.front();
        values.pop_front();
        return value;
    }
    std::deque<float> values;
    int seeds = 0;
};

class RecordingCues : public CuePlayer {
public:
    void play(const std::string &path) override { played.push_back(path); }
    std::vector<std::string> played;
};

class MemoryStore : public ScoreStore {
public:
    std::optional<std::string> read() override { return value; }
    bool write(const std::string &text) override
    {
        writes.push_back(text);
        if (!writable)
            return false;
        value = text;
        return true;
    }
    std::optional<std::string> value;
    std::vector<std::string> writes;
    bool writable = true;
};

// A game in a headless window, wired the way the real window wires it, with a few
// moves a player makes.
struct Harness {
    Harness()
    {
        window.onClick = [this](Control c) {
            if (c == Control::cmdStart)
                game.cmdStart_Click();
            else if (c == Control::Command1)
                game.Command1_Click();
        };
        window.onGotFocus = [this](Control c) {
            if (c == Control::cmdStart)
                game.cmdStart_GotFocus();
            else if (c == Control::cmdEnd)
                game.cmdEnd_GotFocus();
        };
    }

    void load() { game.Form_Load("/opt/mojitan"); }
    void tick() { game.Timer1_Timer(); }
    std::string shown() const { return window.caption(Control::lblMoji); }
    const GameState &state() const { return game.state(); }

    // Ticks until the game waits for a key, as the timer would.
    void tickUntilAwaiting()
    {
        for (int i = 0; i < 3 && state().Mode != ModeAwait; ++i)
            tick();
    }
    // Types and lets the next tick judge it.
    void typeAndJudge(const std::string &typed)
    {
        window.type(typed);
        tick();
    }

    // Plays a game from Enter to the result box: `wrongBefore[i]` wrong keys before the
    // i-th letter (a key that is not the letter shown), the clock set to `seconds` at the end.
    void playGame(double seconds, const std::vector<int> &wrongBefore = {})
    {
        window.pressEnter();
        for (std::size_t letter = 0; letter < std::size_t(kLetterCount); ++letter) {
            tickUntilAwaiting();
            const int wrong = letter < wrongBefore.size() ? wrongBefore[letter] : 0;
            for (int w = 0; w < wrong; ++w)
                typeAndJudge(shown() == "q" ? "w" : "q");
            typeAndJudge(shown());
        }
        clock.time += seconds;
        tick(); // the deck is empty: Mode 3
        tick(); // the finish
    }

    HeadlessWindow window;
    FakeClock clock;
    ScriptedRandom random;
    RecordingCues cues;
    MemoryStore store;
    Game game{window, clock, random, cues, store};
};

} // namespace mojitan::testing
