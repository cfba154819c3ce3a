#pragma once

#include "fakes.h"
#include "game.h"
#include "headlesswindow.h"

#include <string>
#include <vector>

namespace mojitan::testing {

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
