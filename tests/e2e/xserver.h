#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <vector>

namespace mojitan::e2e {

// An X server of the test's own (Xvfb on a display number it picks itself). Nothing else
// runs on it, no window manager either: where one would act (giving the focus to a new
// window, passing on a click on the close box), the test does it.
class PrivateXServer {
public:
    PrivateXServer() = default;
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer &) = delete;
    PrivateXServer &operator=(const PrivateXServer &) = delete;

    bool start(QString *error);
    void stop();
    QString display() const { return m_display; }

private:
    QProcess m_xvfb;
    QString m_display;
};

// A mapped top-level window as the X server knows it.
struct TopLevel {
    xcb_window_t id = 0;
    QRect geometry;
    QString title;
    bool transient = false; // a dialog that belongs to another window
};

// The test's own connection to the X server: it reads what is on the screen and sends what a
// window manager would. Keys and mouse clicks go through xdotool (XTest), as from a person.
class XClient {
public:
    explicit XClient(const QString &display);
    ~XClient();
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;

    bool isConnected() const { return m_screen != nullptr; }

    // The process's mapped top-level windows, in stacking order (bottom first).
    std::vector<TopLevel> windowsOf(qint64 pid);
    // The smallest and largest size the window asks for; equal for a fixed window.
    bool sizeHints(xcb_window_t window, QSize *min, QSize *max);
    // The pixels of the window, or of the whole screen for 0, as they are shown.
    QImage grab(xcb_window_t window = 0);
    // WM_DELETE_WINDOW: what a window manager sends when the close box is clicked.
    bool requestClose(xcb_window_t window);

private:
    xcb_atom_t atom(const char *name);
    QByteArray property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);

    xcb_connection_t *m_connection = nullptr;
    xcb_screen_t *m_screen = nullptr;
};

} // namespace mojitan::e2e
