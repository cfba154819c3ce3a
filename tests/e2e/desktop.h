#pragma once

#include "accessibility.h"
#include "soundlab.h"
#include "xserver.h"

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

namespace mojitan::e2e {

// Waits, keeping the test's own events moving, until `ready` holds or time runs out.
bool waitUntil(const std::function<bool()> &ready, int timeoutMs, int pollMs = 5);

// A player's desktop, private to one test run: an X server, a session bus with the
// accessibility bus switched on, and a sound server whose output is recorded.
class PrivateDesktop {
public:
    PrivateDesktop() = default;
    ~PrivateDesktop();
    PrivateDesktop(const PrivateDesktop &) = delete;
    PrivateDesktop &operator=(const PrivateDesktop &) = delete;

    bool start(QString *error);
    void stop();

    XClient &x() { return *m_client; }
    AtspiReader &atspi() { return *m_atspi; }
    testing::Recorder &recorder() { return *m_recorder; }
    // Whether the sound server still runs, and the end of its log.
    QString soundDiagnosis() const { return m_sound.diagnosis(); }

    // What a program started on this desktop gets: the desktop's display, buses and sound
    // server, and its own settings folder.
    QProcessEnvironment environment(const QString &configHome) const;
    // Runs xdotool against this display: keys and clicks through XTest, as from a person.
    bool xdotool(const QStringList &args) const;

private:
    QTemporaryDir m_dir;
    PrivateXServer m_xserver;
    PrivateSessionBus m_bus;
    testing::PrivateSoundServer m_sound;
    std::unique_ptr<XClient> m_client;
    std::unique_ptr<AtspiReader> m_atspi;
    std::unique_ptr<testing::Recorder> m_recorder;
};

// One run of the game on the private desktop, watched only from outside: through the X
// server, the accessibility tree and the sound server. Should the running test fail while
// the game is up, its screen, its accessibility tree and its standard error are kept under
// `artefacts` before it is stopped.
class GameProcess {
public:
    GameProcess(PrivateDesktop &desktop, QString executable, QString configHome, QString artefacts);
    ~GameProcess();
    GameProcess(const GameProcess &) = delete;
    GameProcess &operator=(const GameProcess &) = delete;

    // Returns once the window is on the screen and readable by assistive technology.
    bool start(QString *error);
    qint64 pid() const { return m_pid; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    xcb_window_t window() const { return m_window; }
    // The mapped dialogs of the game (message boxes), newest last.
    std::vector<TopLevel> dialogs();
    // Every window of the game as a screen reader sees it.
    AtspiNode application();
    // The main window's part of the tree.
    AtspiNode mainWindow();
    // The accessible name of the big letter display: the letter shown.
    QString letter();

    // What a window manager does with a new window: gives it the keyboard.
    bool focus(xcb_window_t window);
    bool key(const QString &keysym);
    bool click(const QRect &onScreen);
    QImage grab();

    // The exit code of a normal exit, or nothing for a crash or a process still running.
    std::optional<int> waitForExit(int timeoutMs);
    QByteArray standardError();

private:
    void keepArtefacts();

    PrivateDesktop &m_desktop;
    QString m_executable;
    QString m_configHome;
    QString m_artefacts;
    QProcess m_process;
    qint64 m_pid = 0;
    xcb_window_t m_window = 0;
    AtspiRef m_app;
    AtspiRef m_letter;
    QByteArray m_stderr;
};

} // namespace mojitan::e2e
