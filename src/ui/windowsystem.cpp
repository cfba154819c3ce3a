// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "windowsystem.h"

#include <QByteArray>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <optional>

namespace mojitan {

namespace {

// Whether the Wayland compositor draws the windows' frames itself, which it says by offering
// the xdg-decoration manager. Empty when libwayland-client or the compositor can't be reached.
// The library is loaded only here, so a game on X11 never maps it.
std::optional<bool> compositorDrawsFrames()
{
    void *library = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return std::nullopt;
    // The few calls of libwayland-client's stable interface that listing the globals needs.
    auto connect = reinterpret_cast<void *(*)(const char *)>(dlsym(library, "wl_display_connect"));
    auto disconnect = reinterpret_cast<void (*)(void *)>(dlsym(library, "wl_display_disconnect"));
    auto roundtrip = reinterpret_cast<int (*)(void *)>(dlsym(library, "wl_display_roundtrip"));
    auto request = reinterpret_cast<void *(*)(void *, std::uint32_t, const void *, ...)>(
        dlsym(library, "wl_proxy_marshal_constructor"));
    auto listen = reinterpret_cast<int (*)(void *, void (**)(), void *)>(
        dlsym(library, "wl_proxy_add_listener"));
    auto destroy = reinterpret_cast<void (*)(void *)>(dlsym(library, "wl_proxy_destroy"));
    const void *registryInterface = dlsym(library, "wl_registry_interface");

    struct RegistryListener {
        void (*global)(void *, void *, std::uint32_t, const char *, std::uint32_t);
        void (*globalRemove)(void *, void *, std::uint32_t);
    };
    RegistryListener listener{
        [](void *offered, void *, std::uint32_t, const char *interface, std::uint32_t) {
            if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0)
                *static_cast<bool *>(offered) = true;
        },
        [](void *, void *, std::uint32_t) {
        }};

    std::optional<bool> answer;
    void *display = nullptr;
    if (connect && disconnect && roundtrip && request && listen && destroy && registryInterface)
        display = connect(nullptr);
    if (display) {
        constexpr std::uint32_t getRegistry = 1; // wl_display.get_registry
        bool offered = false;
        if (void *registry = request(display, getRegistry, registryInterface, nullptr)) {
            auto *handlers = reinterpret_cast<void (**)()>(&listener);
            if (listen(registry, handlers, &offered) == 0 && roundtrip(display) >= 0)
                answer = offered;
            destroy(registry);
        }
        disconnect(display);
    }
    dlclose(library);
    return answer;
}

} // namespace

// Natively, Qt 6.4 frames a window itself where the compositor does not (GNOME), and its frame
// has minimise and maximise buttons and no room for the title; through XWayland the compositor
// frames the window as designed. So the game goes native only where the compositor draws the
// frame (KDE, sway), which also keeps it sharp on a scaled screen, and there Qt is told not to
// prepare a frame of its own: asking whether it could draw one loads the whole OpenGL stack,
// some 50 MB, into this window that never draws with it. Without an X display there is no
// choice: native, with Qt's frame.
void chooseWindowSystem()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qgetenv("XDG_SESSION_TYPE") != "wayland")
        return;
    const bool xwaylandRuns = !qEnvironmentVariableIsEmpty("DISPLAY");
    const std::optional<bool> framed = compositorDrawsFrames();
    if (framed == true) {
        qputenv("QT_QPA_PLATFORM", "wayland");
        if (!qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION"))
            qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    } else if (xwaylandRuns) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else if (framed == false) {
        qputenv("QT_QPA_PLATFORM", "wayland");
    }
}

} // namespace mojitan
