#include "probeapp.h"

#include "stats.h"

#include <QGuiApplication>
#include <xcb/xcb.h>

#include <cstdlib>

namespace mojitan::bench {

ProbeApplication::ProbeApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool ProbeApplication::notify(QObject *receiver, QEvent *event)
{
    if (onEvent)
        onEvent(receiver, event);
    const long long began = onEventDone ? nowNs() : 0;
    const QEvent::Type type = event->type();
    ++m_depth;
    const bool result = QApplication::notify(receiver, event);
    --m_depth;
    // The event may be gone now; only its type is passed on.
    if (onEventDone) {
        QEvent copy(type);
        onEventDone(receiver, &copy, began);
    }
    if (m_depth == 0 && m_watched) {
        m_watched = false;
        waitForServer();
        if (onFrameShown)
            onFrameShown(nowNs());
    }
    return result;
}

void ProbeApplication::waitForServer()
{
    // A round trip on Qt's own connection: the server answers only after it has carried out
    // every request before it, the drawing of the frame included.
    auto *x11 = nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    xcb_connection_t *c = x11->connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

} // namespace mojitan::bench
