// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "services.h"

#include <cstdint>
#include <random>

namespace mojitan {

// Seconds on the steady clock: it never jumps with the time of day.
class SteadyClock : public Clock {
public:
    double now() override;
};

// A Mersenne Twister seeded from the time of day once at start-up.
class ClockSeededRandom : public Random {
public:
    void seedFromClock() override;
    float next() override;

private:
    std::mt19937 m_engine;
};

} // namespace mojitan
