// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace mojitan {

namespace {

// Rounds down and keeps the result inside a 64-bit integer, so even an absurd clock
// reading produces digits rather than undefined behaviour.
std::int64_t floorToInt(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double kLimit = 9.0e18;
    return std::int64_t(std::floor(std::clamp(value, -kLimit, kLimit)));
}

} // namespace

GameFigures computeFigures(int correct, int wrong, int letters, double elapsedSeconds)
{
    GameFigures figures;
    // Formed in a wide integer: with a 16-bit sum a long run of wrong keys would wrap.
    const std::int64_t keystrokes = std::int64_t(correct) + wrong;
    if (keystrokes > 0)
        figures.accuracy = floorToInt(double(correct) / double(keystrokes) * 100.0);

    const double n = std::max(letters, 1);
    const double shortest = n * kFastestSecondsPerLetter;
    figures.measured = std::isfinite(elapsedSeconds) && elapsedSeconds >= shortest;
    const double e = figures.measured ? elapsedSeconds : shortest;

    figures.msPerLetter = floorToInt(e / n * 1000.0);
    figures.lettersPerHour = floorToInt(3600.0 / (e / n));
    figures.sheets = floorToInt(3600.0 / (e / n) / 800.0);
    return figures;
}

std::string resultText(const GameFigures &f)
{
    const std::string crlf = "\r\n";
    return "あなたの正解率は" + std::to_string(f.accuracy) + "%です。" + crlf
        + "一文字あたりの速さ:" + std::to_string(f.msPerLetter) + "ミリ秒" + crlf + "１時間で"
        + std::to_string(f.lettersPerHour) + "文字、打てます。" + crlf + "原稿用紙にして、"
        + std::to_string(f.sheets) + "枚です。";
}

float parseHiScore(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);

    float value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value) || !(value > 0))
        return kDefaultHiScore;
    return value;
}

std::string formatHiScore(float value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1.0e15f)
        return std::to_string(std::int64_t(value));
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace mojitan
