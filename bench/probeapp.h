#pragma once

#include <QApplication>

#include <functional>

namespace mojitan::bench {

// The application object of a program under measurement: it sees every event on its way in
// and tells when a frame that was asked to be watched has reached the screen.
//
// "Reached the screen" means: the outermost event in whose handling a watched widget painted
// has returned (so Qt has painted and flushed the window's backing store), and the X server
// has answered a request sent after the flush (so it has drawn the pixels; Xvfb has no
// compositor that could delay them further).
class ProbeApplication : public QApplication {
public:
    ProbeApplication(int &argc, char **argv);

    // Called as each event is delivered, before its receiver sees it.
    std::function<void(QObject *receiver, QEvent *event)> onEvent;
    // Called as each event has been handled, with the moment its handling began.
    std::function<void(QObject *receiver, QEvent *event, long long beganNs)> onEventDone;
    // Called once the frame painted during the current event is on the screen.
    std::function<void(long long ns)> onFrameShown;

    // From onEvent, on a paint event: this frame is to be reported.
    void watchThisFrame() { m_watched = true; }

    bool notify(QObject *receiver, QEvent *event) override;

private:
    void waitForServer();

    int m_depth = 0;
    bool m_watched = false;
};

} // namespace mojitan::bench
