// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "windowsystem.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <systemd/sd-bus.h>
#include <wayland-client.h>

#include <cstring>

namespace mojitan {

namespace {

// Whether the compositor draws the windows' frames itself, which it says by offering the
// xdg-decoration manager. Empty when no compositor can be reached.
std::optional<bool> compositorDrawsFrames()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return std::nullopt;
    static constexpr wl_registry_listener listener{
        .global =
            [](void *offered, wl_registry *, uint32_t, const char *interface, uint32_t) {
                if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0)
                    *static_cast<bool *>(offered) = true;
            },
        .global_remove = [](void *, wl_registry *, uint32_t) {},
    };
    bool offered = false;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    std::optional<bool> answer;
    if (wl_display_roundtrip(display) >= 0)
        answer = offered;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answer;
}

// A question to the desktop's settings portal: which window buttons GNOME's frame has. It is
// sent when made and its answer read when needed, so that the wait overlaps the compositor's
// round trip. A portal that is not running is not started for it: coming up, it would hold
// the game's start back far longer than the answer is worth.
class PortalButtons {
public:
    PortalButtons()
    {
        constexpr uint64_t kPatienceUs = 200'000; // the portal answers from memory, at once
        sd_bus_message *call = nullptr;
        m_sent = sd_bus_open_user(&m_bus) >= 0
            && sd_bus_message_new_method_call(m_bus, &call, "org.freedesktop.portal.Desktop",
                                              "/org/freedesktop/portal/desktop",
                                              "org.freedesktop.portal.Settings", "ReadOne")
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
            && sd_bus_message_read(reply, "v", "s", &layout) > 0)
            self->m_buttons = layout;
        self->m_answered = true;
        return 0;
    }

    sd_bus *m_bus = nullptr;
    bool m_sent = false;
    bool m_answered = false;
    std::optional<std::string> m_buttons;
};

// XDG_CURRENT_DESKTOP is a colon-separated list, such as "ubuntu:GNOME".
bool onGnome(const std::string &desktops)
{
    return QString::fromStdString(desktops).split(u':').contains(u"GNOME", Qt::CaseInsensitive);
}

// Whether Qt has a plugin of this kind (a folder of its plugins) that answers to this key.
// Qt's Wayland platform plugin and its Adwaita frame, which came with Qt 6.8, are in packages
// of their own that a machine may lack. Qt names each plugin after its key, so only the files
// whose names hold the key are read: reading every plugin would cost a millisecond.
bool qtHasPlugin(const QString &kind, const QString &key)
{
    for (const QString &plugins : QCoreApplication::libraryPaths()) {
        QDirIterator files(plugins + u'/' + kind, QDir::Files);
        while (files.hasNext()) {
            const QString file = files.next();
            if (!files.fileName().contains(key))
                continue;
            const QJsonObject plugin = QPluginLoader(file).metaData();
            if (plugin[u"MetaData"][u"Keys"].toArray().contains(key))
                return true;
        }
    }
    return false;
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
// screen. Where it draws no frames, Qt's fallback frame has minimise and maximise buttons and
// no room for the title, so the game goes through XWayland, framed by the compositor as
// designed; but on GNOME, Qt's Adwaita frame draws GNOME's own frame with the buttons GNOME's
// settings portal names: there, when that is the close box alone, native is the sharper of the
// two, for XWayland stretches the window on a fractionally scaled screen (GNOME 50 has it drawn
// at the next whole scale and shrinks it instead: softer too, at 125 % and 150 %). With any other
// layout Qt's Adwaita frame would show maximise on a window of fixed size, where GNOME's does not.
// Without an X display there is no choice: native, with Qt's frame.
WindowSystem chooseWindowSystem(const WaylandDesktop &desktop)
{
    if (desktop.compositorDrawsFrames == true)
        return WindowSystem::NativeUnframed;
    if (desktop.compositorDrawsFrames == false && desktop.qtHasAdwaitaFrame
        && onGnome(desktop.currentDesktop)) {
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
    const std::string desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString();
    const bool waylandPlugin = qtHasPlugin(QStringLiteral("platforms"), QStringLiteral("wayland"));
    const bool adwaitaFrame = waylandPlugin && onGnome(desktops)
        && qtHasPlugin(QStringLiteral("wayland-decoration-client"), QStringLiteral("adwaita"));
    // Where the portal's answer can decide, it is asked at once, and the compositor asked about
    // frames while the portal answers.
    std::optional<PortalButtons> portal;
    if (adwaitaFrame)
        portal.emplace();
    // Without Qt's Wayland plugin there is nothing native to choose: the compositor goes
    // unasked, and XWayland is the way.
    const WaylandDesktop desktop{
        .compositorDrawsFrames = waylandPlugin ? compositorDrawsFrames() : std::nullopt,
        .xwaylandRuns = !qEnvironmentVariableIsEmpty("DISPLAY"),
        .currentDesktop = desktops,
        .qtHasAdwaitaFrame = adwaitaFrame,
        .buttonLayout = [&portal] { return portal ? portal->answer() : std::nullopt; },
    };
    // Native goes on to X11 through XWayland where Qt's Wayland plugin fails to load.
    switch (chooseWindowSystem(desktop)) {
    case WindowSystem::NativeUnframed:
        // Qt 6.4, asked whether it could draw a frame, loads the whole OpenGL stack: 50 MB.
        if (!qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION"))
            qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
        [[fallthrough]];
    case WindowSystem::Native:
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
        break;
    case WindowSystem::XWayland:
        qputenv("QT_QPA_PLATFORM", "xcb");
        break;
    case WindowSystem::QtDecides:
        break;
    }
}

} // namespace mojitan
