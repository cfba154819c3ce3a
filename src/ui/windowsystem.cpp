// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "windowsystem.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVersionNumber>
#include <QtGlobal>

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstring>

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

// A question to GNOME's settings portal: which window buttons Qt 6.8's own frame would draw. It
// is sent when made and its answer read when needed, so that the wait overlaps the compositor's
// round trip. GNOME's own portal is asked straight: the portal's front spends a millisecond on
// a first question, looking up who asks. A portal that is not running is not started for it:
// coming up, it would hold the game's start back far longer than the answer is worth.
class PortalButtons {
public:
    PortalButtons()
    {
        constexpr std::uint64_t kPatienceUs = 200'000; // the portal answers from memory, at once
        sd_bus_message *call = nullptr;
        m_sent = sd_bus_open_user(&m_bus) >= 0
            && sd_bus_message_new_method_call(m_bus, &call,
                                              "org.freedesktop.impl.portal.desktop.gnome",
                                              "/org/freedesktop/portal/desktop",
                                              "org.freedesktop.impl.portal.Settings", "Read")
                >= 0
            && sd_bus_message_append(call, "ss", "org.gnome.desktop.wm.preferences",
                                     "button-layout")
                >= 0
            && sd_bus_message_set_auto_start(call, 0) >= 0
            && sd_bus_call_async(m_bus, nullptr, call, &PortalButtons::take, this, kPatienceUs) >= 0
            // Out now, past the bus's greeting, so that the portal works while we do.
            && sd_bus_flush(m_bus) >= 0;
        sd_bus_message_unref(call);
    }
    ~PortalButtons() { sd_bus_flush_close_unref(m_bus); }
    PortalButtons(const PortalButtons &) = delete;
    PortalButtons &operator=(const PortalButtons &) = delete;

    // The buttons, such as "appmenu:close"; empty when the portal does not answer in time.
    std::optional<std::string> answer()
    {
        while (m_sent && !m_answered) {
            const int handled = sd_bus_process(m_bus, nullptr);
            if (handled < 0 || (handled == 0 && sd_bus_wait(m_bus, UINT64_MAX) < 0))
                break;
        }
        return m_buttons;
    }

private:
    // Also called with the error that the bus makes up when the patience runs out.
    static int take(sd_bus_message *reply, void *question, sd_bus_error *)
    {
        auto *self = static_cast<PortalButtons *>(question);
        const char *layout = nullptr;
        if (!sd_bus_message_is_method_error(reply, nullptr)
            && sd_bus_message_enter_container(reply, SD_BUS_TYPE_VARIANT, "s") > 0
            && sd_bus_message_read(reply, "s", &layout) > 0)
            self->m_buttons = layout;
        self->m_answered = true;
        return 0;
    }

    sd_bus *m_bus = nullptr;
    bool m_sent = false;
    bool m_answered = false;
    std::optional<std::string> m_buttons;
};

// Qt 6.8 and later frame a window on GNOME as GNOME does, with the buttons its settings portal
// names (Qt 6.4's frame has minimise and maximise buttons and no room for the title).
// XDG_CURRENT_DESKTOP is a colon-separated list, such as "ubuntu:GNOME".
bool qtFramesLikeGnome(const std::string &qtVersion, const std::string &desktops)
{
    return QVersionNumber::fromString(QString::fromStdString(qtVersion)) >= QVersionNumber(6, 8)
        && QString::fromStdString(desktops).split(u':').contains(u"GNOME", Qt::CaseInsensitive);
}

// GNOME's button layout lists the buttons left of the colon and right of it, separated by
// commas; "appmenu" is the window menu, which Qt's frame does not draw.
bool closeBoxOnly(const std::string &layout)
{
    const QStringList buttons =
        QString::fromStdString(layout).split(QRegularExpression(QStringLiteral("[:,]")));
    return buttons.contains(u"close") && !buttons.contains(u"minimize")
        && !buttons.contains(u"maximize");
}

} // namespace

// Where the compositor frames the windows (KDE, sway) the game goes native, sharp on a scaled
// screen, and Qt is told not to prepare a frame of its own: asking whether it could draw one
// loads the whole OpenGL stack, some 50 MB, into this window that never draws with it. Where
// the compositor draws no frames, Qt 6.4's frame has minimise and maximise buttons and no room
// for the title, so the game goes through XWayland, framed by the compositor as designed. Qt
// 6.8 on GNOME draws GNOME's own frame with the buttons GNOME's settings portal names, without
// the OpenGL stack: there, when that is the close box alone, native is the sharper of the two,
// for XWayland stretches the window on a fractionally scaled screen. Without an X display
// there is no choice: native, with Qt's frame.
WindowSystem chooseWindowSystem(const WaylandDesktop &desktop)
{
    if (desktop.compositorDrawsFrames == true)
        return WindowSystem::NativeUnframed;
    if (desktop.compositorDrawsFrames == false
        && qtFramesLikeGnome(desktop.qtVersion, desktop.currentDesktop)) {
        const std::optional<std::string> layout = desktop.buttonLayout();
        if (layout && closeBoxOnly(*layout))
            return WindowSystem::Native;
    }
    if (desktop.xwaylandRuns)
        return WindowSystem::XWayland;
    if (desktop.compositorDrawsFrames == false)
        return WindowSystem::Native;
    return WindowSystem::QtDecides;
}

void setUpWindowSystem()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qgetenv("XDG_SESSION_TYPE") != "wayland")
        return;
    const std::string qtVersion = qVersion();
    const std::string desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString();
    // Where the portal's answer can decide, it is asked at once, and the compositor asked about
    // frames while the portal answers.
    std::optional<PortalButtons> portal;
    if (qtFramesLikeGnome(qtVersion, desktops))
        portal.emplace();
    const WaylandDesktop desktop{
        .compositorDrawsFrames = compositorDrawsFrames(),
        .xwaylandRuns = !qEnvironmentVariableIsEmpty("DISPLAY"),
        .qtVersion = qtVersion,
        .currentDesktop = desktops,
        .buttonLayout = [&portal] { return portal ? portal->answer() : std::nullopt; },
    };
    switch (chooseWindowSystem(desktop)) {
    case WindowSystem::NativeUnframed:
        qputenv("QT_QPA_PLATFORM", "wayland");
        if (!qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION"))
            qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
        break;
    case WindowSystem::Native:
        qputenv("QT_QPA_PLATFORM", "wayland");
        break;
    case WindowSystem::XWayland:
        qputenv("QT_QPA_PLATFORM", "xcb");
        break;
    case WindowSystem::QtDecides:
        break;
    }
}

} // namespace mojitan
