// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "game.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class QLineEdit;
class QPushButton;

namespace mojitan {

class CapsLockHint;

// The game's one window: a 104 x 60 pixel form with the big letter on the left and a
// narrow column of buttons and counters on the right. The text box that takes the
// player's keys lies below the visible area. The window runs the game's handlers and
// gives the game its controls through the `Window` interface.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    // The services must outlive the window.
    MainWindow(Clock &clock, Random &random, CuePlayer &cues, ScoreStore &store,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    QWidget *control(Control which) const { return m_widgets[std::size_t(which)]; }
    Game &game() { return m_game; }
    QTimer &timer() { return m_timer; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

private:
    class Surface;
    friend class Surface;

    void tick();
    QLineEdit *keyBox() const;
    QPushButton *button(Control which) const;
    void applyColors(Control which);

    std::array<QWidget *, kControlCount> m_widgets{};
    std::array<Color, kControlCount> m_back{};
    std::array<Color, kControlCount> m_fore{};
    QTimer m_timer;
    // The game wants ticks; the timer itself sleeps while no key can be judged.
    bool m_ticking = false;
    std::unique_ptr<Surface> m_surface;
    Game m_game;
    CapsLockHint *m_capsLockHint;
    // The last key typed into the key box came without Shift; a paste is no key.
    bool m_typedWithoutShift = false;
};

} // namespace mojitan
