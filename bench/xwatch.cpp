#include "xwatch.h"

#include "stats.h"

#include <poll.h>

#include <cstdlib>

namespace mojitan::bench {

XWatch::~XWatch()
{
    if (m_c)
        xcb_disconnect(m_c);
}

std::string XWatch::connect()
{
    int screen = 0;
    m_c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(m_c))
        return "cannot connect to the X server";
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < screen; ++i)
        xcb_screen_next(&it);
    m_root = it.data->root;

    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(m_c, &xcb_damage_id);
    if (!damage || !damage->present)
        return "the X server has no DAMAGE extension";
    m_damageEvent = damage->first_event;
    std::free(xcb_damage_query_version_reply(
        m_c, xcb_damage_query_version(m_c, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
        nullptr));

    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    return {};
}

xcb_generic_event_t *XWatch::nextEvent(long long deadlineNs)
{
    for (;;) {
        if (xcb_generic_event_t *e = xcb_poll_for_event(m_c))
            return e;
        const long long left = deadlineNs - nowNs();
        if (left <= 0 || xcb_connection_has_error(m_c))
            return nullptr;
        pollfd p{xcb_get_file_descriptor(m_c), POLLIN, 0};
        poll(&p, 1, int(left / 1'000'000) + 1);
    }
}

void XWatch::handleCreate(xcb_window_t window)
{
    // Watched from its creation, before it can be mapped, so its first drawing is not missed.
    const xcb_damage_damage_t damage = xcb_generate_id(m_c);
    xcb_damage_create(m_c, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    m_damages[window] = damage;
    xcb_flush(m_c);
}

void XWatch::handleDestroy(xcb_window_t window)
{
    // The server frees a damage object with its window.
    m_damages.erase(window);
}

bool XWatch::trackWindows(xcb_generic_event_t *e)
{
    const int type = e->response_type & 0x7f;
    if (type == XCB_CREATE_NOTIFY) {
        auto *c = reinterpret_cast<xcb_create_notify_event_t *>(e);
        if (c->parent == m_root)
            handleCreate(c->window);
        return true;
    }
    if (type == XCB_DESTROY_NOTIFY) {
        handleDestroy(reinterpret_cast<xcb_destroy_notify_event_t *>(e)->window);
        return true;
    }
    return false;
}

std::optional<XWatch::Shown> XWatch::waitForFirstFrame(int timeoutMs)
{
    const long long deadline = nowNs() + timeoutMs * 1'000'000LL;
    Shown shown;
    while (xcb_generic_event_t *e = nextEvent(deadline)) {
        const long long at = nowNs();
        const int type = e->response_type & 0x7f;
        if (trackWindows(e)) {
            std::free(e);
            continue;
        }
        if (type == XCB_MAP_NOTIFY) {
            auto *m = reinterpret_cast<xcb_map_notify_event_t *>(e);
            if (!shown.window && !m->override_redirect && m_damages.count(m->window)) {
                shown.window = m->window;
                shown.mappedNs = at;
            }
        } else if (type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            auto *d = reinterpret_cast<xcb_damage_notify_event_t *>(e);
            // Re-armed at once: the next drawing reports again.
            xcb_damage_subtract(m_c, d->damage, XCB_NONE, XCB_NONE);
            if (shown.window && d->drawable == shown.window && hasContent(shown.window)) {
                shown.drawnNs = at;
                std::free(e);
                return shown;
            }
        }
        std::free(e);
    }
    return std::nullopt;
}

void XWatch::drain()
{
    while (xcb_generic_event_t *e = nextEvent(nowNs() + 50'000'000)) {
        const int type = e->response_type & 0x7f;
        if (!trackWindows(e) && type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            xcb_damage_subtract(m_c, reinterpret_cast<xcb_damage_notify_event_t *>(e)->damage,
                                XCB_NONE, XCB_NONE);
        }
        std::free(e);
    }
}

std::vector<std::uint32_t> XWatch::pixels(xcb_window_t window)
{
    std::vector<std::uint32_t> out;
    xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
    if (!g)
        return out;
    const int w = g->width, h = g->height, depth = g->depth;
    std::free(g);
    xcb_get_image_reply_t *img = xcb_get_image_reply(
        m_c, xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, std::uint16_t(w),
                           std::uint16_t(h), ~0u),
        nullptr);
    if (!img)
        return out;
    // 24- and 32-bit visuals store a pixel in 32 bits with red, green, blue in the low three bytes.
    const int length = xcb_get_image_data_length(img);
    if (depth >= 24 && length >= w * h * 4) {
        const auto *data = reinterpret_cast<const std::uint32_t *>(xcb_get_image_data(img));
        out.reserve(std::size_t(w * h));
        for (int i = 0; i < w * h; ++i)
            out.push_back(data[i] & 0xffffff);
    }
    std::free(img);
    return out;
}

bool XWatch::hasContent(xcb_window_t window)
{
    for (std::uint32_t p : pixels(window))
        if (p != 0)
            return true;
    return false;
}

} // namespace mojitan::bench
