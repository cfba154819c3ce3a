#pragma once

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mojitan::bench {

// Watches an X server from outside every program on it: which top-level windows appear,
// when they are mapped, and when something is first drawn in them. Drawing is seen through
// the DAMAGE extension, which the server reports as it draws.
class XWatch {
public:
    XWatch() = default;
    ~XWatch();
    XWatch(const XWatch &) = delete;
    XWatch &operator=(const XWatch &) = delete;

    // Connects to $DISPLAY; empty on success, else what is missing.
    std::string connect();

    struct Shown {
        xcb_window_t window = 0;
        long long mappedNs = 0;  // the server reported the window mapped
        long long drawnNs = 0;   // the server reported the first drawing into it
    };
    // Waits for the next top-level window to be mapped and drawn into.
    std::optional<Shown> waitForFirstFrame(int timeoutMs);
    // Handles whatever has arrived and stops watching windows that are gone.
    void drain();

    // The window's pixels as 0xRRGGBB values, row by row; empty when it cannot be read.
    std::vector<std::uint32_t> pixels(xcb_window_t window);
    // Whether anything other than black, the colour of a window no one has drawn, is there.
    bool hasContent(xcb_window_t window);

private:
    xcb_generic_event_t *nextEvent(long long deadlineNs);
    // Follows top-level windows coming and going; true when the event was one of those.
    bool trackWindows(xcb_generic_event_t *e);
    void handleCreate(xcb_window_t window);
    void handleDestroy(xcb_window_t window);

    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = 0;
    std::uint8_t m_damageEvent = 0;
    std::map<xcb_window_t, xcb_damage_damage_t> m_damages;
};

} // namespace mojitan::bench
