// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "game.h"

#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace mojitan {

namespace {

// The controls whose background follows the judgement, in the order they are painted.
constexpr Control kPainted[] = {Control::Form1,   Control::Frame1,  Control::lblMoji,
                                Control::lblMaru, Control::lblBatu, Control::label1,
                                Control::lblScore};

// The controls of the idle layout, in the order they are shown and hidden.
constexpr Control kIdleControls[] = {Control::cmdStart, Control::cmdEnd,   Control::lblScore,
                                     Control::label1,   Control::Command1, Control::Label2};

constexpr char kSeparator = '/';

} // namespace

Game::Game(Window &window, Clock &clock, Random &random, CuePlayer &cues, ScoreStore &store)
    : m_window(window)
    , m_clock(clock)
    , m_random(random)
    , m_cues(cues)
    , m_store(store)
{
}

void Game::Form_Load(const std::string &programDir)
{
    m_state.AppDir = programDir;
    if (m_state.AppDir.empty() || m_state.AppDir.back() != kSeparator)
        m_state.AppDir += kSeparator;
    m_random.seedFromClock();
    LoadHiScore();
    InitGame();
    m_state.BaseColor = m_window.backColor(Control::Form1).toDouble();
}

void Game::InitGame()
{
    for (int i = 0; i < kLetterCount; ++i)
        m_state.Moji[std::size_t(i)] = std::string(1, char('a' + i));
    m_window.setCaption(Control::lblMoji, "");
    m_window.setEnabled(Control::txtMoji, false);
    m_window.setText(Control::txtMoji, "");
    m_state.MojiTotal = kLetterCount;
    m_state.MojiLeft = kLetterCount - 1;
    m_state.Mode = ModeIdle;
    m_state.MaruCount = 0;
    m_state.BatuCount = 0;
    m_window.setCaption(Control::lblScore, formatHiScore(m_state.HiScore) + "ms");
    m_window.setCaption(Control::lblBatu, "誤:0");
    m_window.setCaption(Control::lblMaru, "正:0");
}

void Game::cmdStart_Click()
{
    m_window.setTimerInterval(1);
    m_state.Mode = ModeDraw;
    m_window.setEnabled(Control::txtMoji, true);
    // Undoes a record's red with the theme's own text colour, so a dark theme stays readable.
    m_window.setForeColor(Control::lblScore, Color::system(Color::System::ButtonText));
    m_window.setVisible(Control::Frame1, true);
    for (Control control : kIdleControls)
        m_window.setVisible(control, false);
    m_state.StartTime = m_clock.now();
}

void Game::cmdStart_GotFocus()
{
    if (m_state.Mode == ModeAwait)
        m_window.setFocus(Control::txtMoji);
}

void Game::cmdEnd_GotFocus()
{
    if (m_state.Mode == ModeAwait)
        m_window.setFocus(Control::txtMoji);
}

void Game::Command1_Click()
{
    ClearHiScore();
}

void Game::Timer1_Timer()
{
    if (m_inTick)
        return;
    m_inTick = true;
    switch (m_state.Mode) {
    case ModeDraw:
        drawStep();
        break;
    case ModeAwait:
        judgeStep();
        break;
    case ModeFinish:
        finishStep();
        break;
    default:
        break;
    }
    m_inTick = false;
}

void Game::drawStep()
{
    if (m_state.MojiLeft < 0) {
        m_state.Mode = ModeFinish;
        return;
    }
    const int left = m_state.MojiLeft;
    // Computed in double and clamped, so a generator that returns exactly 1 (or rounds up
    // to it) cannot step past the undrawn part of the deck.
    const double product = double(m_random.next()) * double(left + 1);
    int k = std::isfinite(product) ? int(std::floor(product)) : 0;
    k = k < 0 ? 0 : (k > left ? left : k);

    m_state.CurMoji = m_state.Moji[std::size_t(k)];
    for (int j = k; j < left; ++j)
        m_state.Moji[std::size_t(j)] = m_state.Moji[std::size_t(j) + 1];
    m_state.MojiLeft = std::int16_t(left - 1);
    m_window.setCaption(Control::lblMoji, m_state.CurMoji);
    m_state.Mode = ModeAwait;
    m_window.setFocus(Control::txtMoji);
}

void Game::judgeStep()
{
    if (m_window.text(Control::txtMoji).empty())
        return;
    // Judged against what the player sees, not against what was drawn.
    if (m_window.text(Control::txtMoji) == m_window.caption(Control::lblMoji)) {
        PlayWave("key.wav");
        ++m_state.MaruCount;
        m_window.setCaption(Control::lblMaru, "正：" + std::to_string(m_state.MaruCount));
        m_state.Mode = ModeDraw;
        m_window.setText(Control::txtMoji, "");
        paintBackgrounds(Color::fromDouble(m_state.BaseColor));
    } else {
        PlayWave("wrong.wav");
        // Held at the top of its range: a player who leans on the keyboard must not wrap
        // the count round to a negative number.
        if (m_state.BatuCount < std::numeric_limits<std::int16_t>::max())
            ++m_state.BatuCount;
        m_window.setCaption(Control::lblBatu, "誤：" + std::to_string(m_state.BatuCount));
        m_window.setText(Control::txtMoji, "");
        paintBackgrounds(kPureRed);
    }
}

void Game::finishStep()
{
    m_state.EndTime = m_clock.now();
    const GameFigures figures =
        computeFigures(m_state.MaruCount, m_state.BatuCount, m_state.MojiTotal,
                       m_state.EndTime - m_state.StartTime);
    m_window.messageBox(resultText(figures), MessageButtons::Ok);

    // Another copy of the game may have stored a better time since this one read it: take it
    // up, so that a slower game here neither counts as a record nor replaces it.
    if (const std::optional<std::string> stored = m_store.read())
        m_state.HiScore = std::min(m_state.HiScore, parseHiScore(*stored));

    // Only a real measurement can be a record; a clock fault never replaces the best time.
    const float time = float(figures.msPerLetter);
    if (figures.measured && time < m_state.HiScore) {
        SaveHiScore(std::to_string(figures.msPerLetter));
        m_state.HiScore = time;
        PlayWave("win.wav");
        m_window.setForeColor(Control::lblScore, kPureRed);
    }
    m_state.Mode = ModeIdle;
    m_window.setTimerInterval(0);
    InitGame();
    m_window.setEnabled(Control::txtMoji, false);
    m_window.setVisible(Control::Frame1, false);
    for (Control control : kIdleControls)
        m_window.setVisible(control, true);
    m_window.setFocus(Control::cmdStart);
}

void Game::paintBackgrounds(Color color)
{
    for (Control control : kPainted)
        m_window.setBackColor(control, color);
}

void Game::PlayWave(const std::string &name)
{
    m_cues.play(m_state.AppDir + "sound" + kSeparator + name);
}

void Game::LoadHiScore()
{
    m_state.HiScore = parseHiScore(m_store.read().value_or("1000"));
}

void Game::SaveHiScore(const std::string &text)
{
    // A store that cannot be written must not stop the game: the record still counts for
    // this run. The store itself tells the player once on standard error.
    m_store.write(text);
}

void Game::ClearHiScore()
{
    m_state.Answer =
        std::int16_t(m_window.messageBox("ハイスコアを初期化しますか？", MessageButtons::YesNo));
    if (m_state.Answer == kReplyYes) {
        SaveHiScore("1000");
        m_state.HiScore = 1000;
        m_window.setCaption(Control::lblScore, "1000ms");
    }
    m_window.setFocus(Control::cmdStart);
}

} // namespace mojitan
