#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace mojitan::bench {

// Keys typed the way a keyboard types them: through the X server's XTest extension, so they
// take the same path into a program as a player's keys do. Has its own connection to the
// server, apart from any program's.
class XKeyboard {
public:
    // Connects to $DISPLAY.
    XKeyboard();
    ~XKeyboard();
    XKeyboard(const XKeyboard &) = delete;
    XKeyboard &operator=(const XKeyboard &) = delete;

    // Empty when the connection, XTest and the keyboard map are all there.
    const std::string &error() const { return m_error; }
    xcb_connection_t *connection() const { return m_c; }

    // Presses and releases the key that types `keysym` unshifted; false when no key does.
    // Returns once both are sent, without waiting for the server.
    bool type(std::uint32_t keysym);
    // Gives the keyboard focus to a window, as a window manager does when one is clicked.
    void focus(xcb_window_t window);
    // Returns once the server has handled everything sent before.
    void sync();

private:
    xcb_connection_t *m_c = nullptr;
    std::unordered_map<std::uint32_t, xcb_keycode_t> m_keycodes;
    std::string m_error;
};

inline constexpr std::uint32_t kKeysymReturn = 0xff0d;

} // namespace mojitan::bench
