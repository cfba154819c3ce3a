#pragma once

#include "services.h"

#include <deque>
#include <vector>

namespace mojitan::testing {

struct FakeClock : Clock {
    double time = 0;
    double now() override { return time; }
};

// Hands out the values it was given, then the last of them again.
struct ScriptedRandom : Random {
    std::deque<float> values{0.0f};
    void seedFromClock() override {}
    float next() override
    {
        const float value = values.front();
        if (values.size() > 1)
            values.pop_front();
        return value;
    }
};

struct RecordingCues : CuePlayer {
    std::vector<std::string> played;
    void play(const std::string &path) override { played.push_back(path); }
};

struct MemoryStore : ScoreStore {
    std::optional<std::string> value;
    bool writable = true;
    std::optional<std::string> read() override { return value; }
    bool write(const std::string &text) override
    {
        if (writable)
            value = text;
        return writable;
    }
};

} // namespace mojitan::testing
