// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mojitan {

// The four figures of a finished game.
struct GameFigures {
    std::int64_t accuracy = 0;       // percent of keystrokes that were right, rounded down
    std::int64_t msPerLetter = 0;    // milliseconds per letter, rounded down
    std::int64_t lettersPerHour = 0; // letters that would be typed in an hour at this pace
    std::int64_t sheets = 0;         // that, in manuscript sheets of 800 letters
    bool measured = false;           // false when the elapsed time was not a real measurement
};

// Nobody types a letter in less than a millisecond: anything shorter is a fault of the
// clock, not a result.
inline constexpr double kFastestSecondsPerLetter = 0.001;

GameFigures computeFigures(int correct, int wrong, int letters, double elapsedSeconds);

// The result box text: four lines joined by CR LF.
std::string resultText(const GameFigures &figures);

// The stored best time as a number; anything that is not a finite positive number gives
// the default of 1000.
inline constexpr float kDefaultHiScore = 1000.0f;
float parseHiScore(std::string_view text);

// The text a best time is shown and stored as: a whole number has no decimal point.
std::string formatHiScore(float value);

} // namespace mojitan
