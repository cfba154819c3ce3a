// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "services.h"
#include "window.h"

#include <array>
#include <cstdint>
#include <string>

namespace mojitan {

// Game state codes.
inline constexpr std::int16_t ModeIdle = 0;
inline constexpr std::int16_t ModeDraw = 1;
inline constexpr std::int16_t ModeAwait = 2;
inline constexpr std::int16_t ModeFinish = 3;

inline constexpr int kLetterCount = 26;

// The state of the window's game, under the names the game has always used for it.
struct GameState {
    std::int16_t Mode = ModeIdle;
    std::int16_t MaruCount = 0; // correct keystrokes in this game
    std::int16_t BatuCount = 0; // wrong keystrokes in this game
    std::int16_t MojiTotal = 0; // letters per game
    // The deck: elements 0..MojiLeft are the undrawn letters, in alphabetical order.
    std::array<std::string, kLetterCount> Moji;
    double BaseColor = 0;      // the window's own background, restored after a wrong key
    double StartTime = 0;      // clock reading when the game started, seconds
    double EndTime = 0;        // clock reading when it finished
    float HiScore = 1000;      // best time per letter, milliseconds
    std::int16_t MojiLeft = 0; // highest undrawn index; -1 once all letters are out
    std::string CurMoji;       // the letter drawn last
    std::string AppDir;        // the program's folder, ending in a separator
    std::int16_t Answer = 0;   // reply to the clear-score question
};

// The game's logic: the window's handlers and the steps they run. It reaches the window,
// the clock, the random generator, the sounds and the stored score only through the
// interfaces it is given, which must outlive it.
class Game {
public:
    Game(Window &window, Clock &clock, Random &random, CuePlayer &cues, ScoreStore &store);

    // Window events. `programDir` is the folder that holds the executable.
    void Form_Load(const std::string &programDir);
    void cmdStart_Click();
    void cmdStart_GotFocus();
    void cmdEnd_GotFocus();
    void Command1_Click();
    void Timer1_Timer();

    void InitGame();
    void PlayWave(const std::string &name);
    void LoadHiScore();
    void SaveHiScore(const std::string &text);
    void ClearHiScore();

    const GameState &state() const { return m_state; }

private:
    void drawStep();
    void judgeStep();
    void finishStep();
    void paintBackgrounds(Color color);

    Window &m_window;
    Clock &m_clock;
    Random &m_random;
    CuePlayer &m_cues;
    ScoreStore &m_store;
    GameState m_state;
    // A modal result box runs its own event loop and the timer keeps firing inside it;
    // this keeps those ticks from starting a second step on top of the running one.
    bool m_inTick = false;
};

} // namespace mojitan
