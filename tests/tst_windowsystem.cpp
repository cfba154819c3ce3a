// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// How the window reaches the screen on a Wayland desktop, from what the program sees as it
// starts: the Qt it runs on, the desktop, and the window buttons the settings portal names.
#include "windowsystem.h"

#include <QtTest>

using namespace mojitan;
using enum WindowSystem;

// A compositor that draws no frames, with XWayland running.
WindowSystem unframed(const char *qt, const char *desktop, std::optional<std::string> buttons)
{
    return chooseWindowSystem({
        .compositorDrawsFrames = false,
        .xwaylandRuns = true,
        .qtVersion = qt,
        .currentDesktop = desktop,
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
        // GNOME: Qt 6.8 and later frame the window as GNOME does, with the portal's buttons.
        QCOMPARE(unframed("6.4.2", "GNOME", closeBox), XWayland);
        QCOMPARE(unframed("6.8.2", "GNOME", closeBox), Native);
        QCOMPARE(unframed("6.10.0", "ubuntu:GNOME", closeBox), Native);
        QCOMPARE(unframed("6.8.2", "GNOME", "appmenu:minimize,maximize,close"), XWayland);
        QCOMPARE(unframed("6.8.2", "GNOME", std::nullopt), XWayland);
        // weston: no portal of GNOME's, and a frame that is not GNOME's.
        QCOMPARE(unframed("6.8.2", "weston", closeBox), XWayland);
    }
};

QTEST_APPLESS_MAIN(WindowSystemTest)
#include "tst_windowsystem.moc"
