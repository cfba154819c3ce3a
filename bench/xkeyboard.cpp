#include "xkeyboard.h"

#include <xcb/xtest.h>

#include <cstdlib>

namespace mojitan::bench {

XKeyboard::XKeyboard()
{
    m_c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_c)) {
        m_error = "cannot connect to the X server";
        return;
    }
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(m_c, &xcb_test_id);
    if (!xtest || !xtest->present) {
        m_error = "the X server has no XTest extension";
        return;
    }
    const xcb_setup_t *setup = xcb_get_setup(m_c);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *map = xcb_get_keyboard_mapping_reply(
        m_c, xcb_get_keyboard_mapping(m_c, setup->min_keycode, std::uint8_t(count)), nullptr);
    if (!map) {
        m_error = "cannot read the keyboard map";
        return;
    }
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
    // The first column is what a key types without Shift; the first key found wins, as in
    // the server's own lookup.
    for (int k = 0; k < count; ++k) {
        const xcb_keysym_t sym = syms[k * map->keysyms_per_keycode];
        if (sym != 0 && !m_keycodes.count(sym))
            m_keycodes[sym] = xcb_keycode_t(first + k);
    }
    std::free(map);
}

XKeyboard::~XKeyboard()
{
    if (m_c)
        xcb_disconnect(m_c);
}

bool XKeyboard::type(std::uint32_t keysym)
{
    const auto code = m_keycodes.find(keysym);
    if (code == m_keycodes.end())
        return false;
    xcb_test_fake_input(m_c, XCB_KEY_PRESS, code->second, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(m_c, XCB_KEY_RELEASE, code->second, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(m_c);
    return true;
}

void XKeyboard::focus(xcb_window_t window)
{
    xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    sync();
}

void XKeyboard::sync()
{
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}

} // namespace mojitan::bench
