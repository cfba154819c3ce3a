// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "systemservices.h"

#include <chrono>

namespace mojitan {

double SteadyClock::now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ClockSeededRandom::seedFromClock()
{
    using namespace std::chrono;
    const auto ticks = system_clock::now().time_since_epoch().count();
    m_engine.seed(std::uint32_t(std::uint64_t(ticks) ^ (std::uint64_t(ticks) >> 32)));
}

float ClockSeededRandom::next()
{
    // 24 random bits are exactly what a float's significand holds, so the result is
    // uniform and can never round up to 1 (std::generate_canonical can).
    return float(m_engine() >> 8) * (1.0f / 16777216.0f);
}

} // namespace mojitan
