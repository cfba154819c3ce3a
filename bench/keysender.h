#pragma once

#include "xkeyboard.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace mojitan::bench {

// Types keys at chosen moments from a thread of its own. A key sent from the program's event
// loop would always leave just after some event of that loop, a tick of the game's timer
// most likely, and so would always meet the game at the same point of its tick; keys sent
// at independent moments meet it at every point, as a player's do.
class KeySender {
public:
    explicit KeySender(XKeyboard &keyboard);
    ~KeySender();
    KeySender(const KeySender &) = delete;
    KeySender &operator=(const KeySender &) = delete;

    // Types the key at `ns` on the monotonic clock, or at once when that has passed. A key
    // asked for while another still waits replaces it.
    void typeAt(long long ns, std::uint32_t keysym);
    // When the last key was handed to the server; 0 before the first.
    long long sentNs() const { return m_sent.load(); }

private:
    void run();

    XKeyboard &m_keyboard;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_pending = false;
    bool m_stop = false;
    long long m_at = 0;
    std::uint32_t m_keysym = 0;
    std::atomic<long long> m_sent{0};
    std::thread m_thread;
};

} // namespace mojitan::bench
