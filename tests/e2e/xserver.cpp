#include "xserver.h"

#include "childprocess.h"

#include <QDeadlineTimer>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>


namespace mojitan::e2e {

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> owned(T *reply)
{
    return Reply<T>(reply, &std::free);
}

} // namespace

PrivateXServer::~PrivateXServer() { stop(); }

bool PrivateXServer::start(QString *error)
{
    // -displayfd: Xvfb takes the first free display number and writes it to standard output
    // once it accepts connections, so two test runs never meet on one display.
    m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    m_xvfb.setStandardErrorFile(QProcess::nullDevice());
    mojitan::testing::endWithTheTest(m_xvfb);
    m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                          QStringLiteral("-screen"), QStringLiteral("0"),
                                          QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                                          QStringLiteral("tcp")});
    if (!m_xvfb.waitForStarted(5000)) {
        *error = QStringLiteral("Xvfb did not start: ") + m_xvfb.errorString();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(100);
        out += m_xvfb.readAllStandardOutput();
    }
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("Xvfb gave no display number");
        stop();
        return false;
    }
    m_display = QStringLiteral(":%1").arg(number);
    return true;
}

void PrivateXServer::stop()
{
    mojitan::testing::stopChild(m_xvfb);
}

XClient::XClient(const QString &display)
{
    int screenNumber = 0;
    m_connection = xcb_connect(display.toLocal8Bit().constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    m_screen = it.rem ? it.data : nullptr;
}

XClient::~XClient()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

xcb_atom_t XClient::atom(const char *name)
{
    auto reply = owned(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray XClient::property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    auto reply = owned(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::vector<TopLevel> XClient::windowsOf(qint64 pid)
{
    std::vector<TopLevel> found;
    if (!isConnected())
        return found;
    auto tree = owned(xcb_query_tree_reply(m_connection,
                                           xcb_query_tree(m_connection, m_screen->root), nullptr));
    if (!tree)
        return found;
    const xcb_atom_t wmPid = atom("_NET_WM_PID");
    const xcb_atom_t wmName = atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t w = children[i];
        auto attributes = owned(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, w), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const QByteArray owner = property(w, wmPid, XCB_ATOM_CARDINAL);
        if (owner.size() != 4 || *reinterpret_cast<const quint32 *>(owner.constData()) != pid)
            continue;
        auto geometry = owned(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, w),
                                                     nullptr));
        TopLevel top;
        top.id = w;
        if (geometry)
            top.geometry = QRect(geometry->x, geometry->y, geometry->width, geometry->height);
        top.title = QString::fromUtf8(property(w, wmName, utf8));
        top.transient = !property(w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW).isEmpty();
        found.push_back(top);
    }
    return found;
}

bool XClient::sizeHints(xcb_window_t window, QSize *min, QSize *max)
{
    // WM_NORMAL_HINTS: flags, then x, y, width, height, min w/h, max w/h, ... as 32-bit words.
    const QByteArray hints = property(window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS);
    if (hints.size() < 9 * 4)
        return false;
    const auto *word = reinterpret_cast<const qint32 *>(hints.constData());
    constexpr qint32 kMinSize = 1 << 4, kMaxSize = 1 << 5;
    *min = word[0] & kMinSize ? QSize(word[5], word[6]) : QSize();
    *max = word[0] & kMaxSize ? QSize(word[7], word[8]) : QSize();
    return true;
}

QImage XClient::grab(xcb_window_t window)
{
    if (!isConnected())
        return {};
    if (window == 0)
        window = m_screen->root;
    auto geometry = owned(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window),
                                                 nullptr));
    if (!geometry)
        return {};
    auto image = owned(xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width,
                      geometry->height, ~0u),
        nullptr));
    // Xvfb at depth 24 keeps a pixel in 32 bits, blue in the lowest byte: QImage's RGB32.
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    if (!image || image->depth != 24 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return {};
    const int bytes = xcb_get_image_data_length(image.get());
    if (bytes < geometry->width * geometry->height * 4)
        return {};
    QImage copy(geometry->width, geometry->height, QImage::Format_RGB32);
    const uint8_t *data = xcb_get_image_data(image.get());
    const int stride = bytes / geometry->height;
    for (int y = 0; y < geometry->height; ++y)
        std::memcpy(copy.scanLine(y), data + y * stride, std::size_t(geometry->width) * 4);
    return copy;
}

bool XClient::requestClose(xcb_window_t window)
{
    if (!isConnected())
        return false;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    // With no event mask the message goes to the client that made the window, as from a
    // window manager.
    const xcb_void_cookie_t sent = xcb_send_event_checked(
        m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    auto failure = owned(xcb_request_check(m_connection, sent));
    return failure == nullptr;
}

} // namespace mojitan::e2e
