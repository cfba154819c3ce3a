// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

namespace mojitan {

// On a Wayland desktop, picks how the window reaches the screen, unless QT_QPA_PLATFORM says
// so already. Must run before the application object is made.
void chooseWindowSystem();

} // namespace mojitan
