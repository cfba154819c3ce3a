#include "keysender.h"

#include "stats.h"

#include <cerrno>
#include <ctime>

namespace mojitan::bench {

KeySender::KeySender(XKeyboard &keyboard) : m_keyboard(keyboard), m_thread([this] { run(); }) {}

KeySender::~KeySender()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void KeySender::typeAt(long long ns, std::uint32_t keysym)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = true;
        m_at = ns;
        m_keysym = keysym;
    }
    m_wake.notify_one();
}

void KeySender::run()
{
    for (;;) {
        long long at = 0;
        std::uint32_t keysym = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_pending || m_stop; });
            if (m_stop)
                return;
            m_pending = false;
            at = m_at;
            keysym = m_keysym;
        }
        // steady_clock is CLOCK_MONOTONIC on Linux, so the moment can be slept to directly.
        timespec until{time_t(at / 1'000'000'000), long(at % 1'000'000'000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        m_sent.store(nowNs());
        m_keyboard.type(keysym);
    }
}

} // namespace mojitan::bench
