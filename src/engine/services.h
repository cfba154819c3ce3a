// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>
#include <string>

namespace mojitan {

// Seconds from an arbitrary origin. The real one is monotonic, so a game across
// midnight or across a change of the system time still measures its true length.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() = 0;
};

// Uniform single-precision values in [0, 1).
class Random {
public:
    virtual ~Random() = default;
    virtual void seedFromClock() = 0;
    virtual float next() = 0;
};

// Starts a sound file playing and returns at once; a file that cannot be played is silent.
class CuePlayer {
public:
    virtual ~CuePlayer() = default;
    virtual void play(const std::string &path) = 0;
};

// The one stored value: the best time per letter, as text.
class ScoreStore {
public:
    virtual ~ScoreStore() = default;
    // The stored text, or nothing when no value has been stored.
    virtual std::optional<std::string> read() = 0;
    // Replaces the stored text; false when it could not be written.
    virtual bool write(const std::string &text) = 0;
};

} // namespace mojitan
