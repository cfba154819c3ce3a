#pragma once

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>

namespace mojitan::testing {

// The servers a test starts (X, D-Bus, PulseAudio) must not outlive it, even when the test
// itself is killed by a timeout.
inline void endWithTheTest(QProcess &child)
{
    child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// Asks a child to end, and makes it if it will not.
inline void stopChild(QProcess &child)
{
    if (child.state() == QProcess::NotRunning)
        return;
    child.terminate();
    if (!child.waitForFinished(5000)) {
        child.kill();
        child.waitForFinished(5000);
    }
}

} // namespace mojitan::testing
