// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "window.h"

#include <array>

class QWidget;

namespace mojitan {

// Builds the game's window as it was drawn, onto `form`: its title, its size, every control
// with its caption, rectangle, font and alignment, stacked and tab-ordered, in the idle
// layout. Returns the controls by name; `Form1` is `form` itself.
std::array<QWidget *, kControlCount> buildForm1(QWidget &form);

} // namespace mojitan
