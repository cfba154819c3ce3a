// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>
#include <optional>
#include <string>

namespace mojitan {

// How the game's window reaches the screen on a Wayland desktop.
enum class WindowSystem {
    Native,         // Wayland, with Qt's own frame where the compositor draws none
    NativeUnframed, // Wayland, framed by the compositor
    XWayland,       // X11 through XWayland, framed by the compositor
    QtDecides,      // neither the compositor nor an X server could be reached
};

// What the program can see of a Wayland desktop as it starts.
struct WaylandDesktop {
    std::optional<bool> compositorDrawsFrames{}; // empty when the compositor can't be reached
    bool xwaylandRuns = false;
    std::string currentDesktop{};   // XDG_CURRENT_DESKTOP, such as "ubuntu:GNOME"
    bool qtHasAdwaitaFrame = false; // Qt's plugin that frames a window as GNOME does
    // The window buttons the desktop's settings portal names, such as "appmenu:close"; empty
    // when no portal answers. Asked only where the answer decides: it is a round trip.
    std::function<std::optional<std::string>()> buttonLayout{};
};

WindowSystem chooseWindowSystem(const WaylandDesktop &desktop);

// On a Wayland desktop, picks how the window reaches the screen, unless QT_QPA_PLATFORM says
// so already. Must run before the application object is made.
void setUpWindowSystem();

} // namespace mojitan
