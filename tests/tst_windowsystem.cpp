// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// How the window reaches the screen on a Wayland desktop, from what the program sees as it
// starts: the desktop, Qt's plugins, and the window buttons the settings portal names.
#include "windowsystem.h"

#include <QtTest>

using namespace mojitan;
using enum WindowSystem;

enum Plugin { Adwaita, NoAdwaita };

// A compositor that draws no frames, with XWayland running.
WindowSystem unframed(Plugin frame, const char *desktop, std::optional<std::string> buttons)
{
    return chooseWindowSystem({
        .compositorDrawsFrames = false,
        .xwaylandRuns = true,
        .currentDesktop = desktop,
        .qtHasAdwaitaFrame = frame == Adwaita,
        .buttonLayout = [buttons] { return buttons; },
    });
}

class WindowSystemTest : public QObject {
    Q_OBJECT

private slots:
    void chosen()
    {
        const std::string closeBox = "appmenu:close";
        // Where the compositor frames the window (KDE, sway), nothing else is asked.
        QCOMPARE(chooseWindowSystem({.compositorDrawsFrames = true}), NativeUnframed);
        // GNOME: Qt's Adwaita plugin frames the window as GNOME does, with the portal's buttons.
        QCOMPARE(unframed(Adwaita, "GNOME", closeBox), Native);
        QCOMPARE(unframed(Adwaita, "ubuntu:GNOME", closeBox), Native);
        QCOMPARE(unframed(NoAdwaita, "GNOME", closeBox), XWayland);
        QCOMPARE(unframed(Adwaita, "GNOME", "appmenu:minimize,maximize,close"), XWayland);
        QCOMPARE(unframed(Adwaita, "GNOME", std::nullopt), XWayland);
        // weston: no portal of GNOME's, and a frame that is not GNOME's.
        QCOMPARE(unframed(Adwaita, "weston", closeBox), XWayland);
    }
};

QTEST_APPLESS_MAIN(WindowSystemTest)
#include "tst_windowsystem.moc"
