// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QLabel>

namespace mojitan {

// A balloon under the big letter that says Caps Lock is on, the way a password box warns. With
// the lock on every letter comes out in capitals and counts wrong, and the window is far too
// small to say why. The balloon is a small window of its own, tied to the game's window: it
// never takes the keys, and a screen reader meets it as a tool tip.
class CapsLockHint : public QLabel {
    Q_OBJECT

public:
    explicit CapsLockHint(QWidget &letter);

    // Shows the balloon just below the letter, or above the window where the screen ends.
    void showByTheLetter();

private:
    QWidget &m_letter;
};

} // namespace mojitan
