#pragma once

#include "services.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

// Stand-ins for the clock, the random generator, the sounds and the stored score, so a
// test decides the time and the letters and sees what was played and saved.
namespace mojitan::testing {

class FakeClock : public Clock {
public:
    double now() override { return time; }
    double time = 0;
};

// Plays back the values it is given, then zeros.
class ScriptedRandom : public Random {
public:
    void seedFromClock() override { ++seeds; }
    float next() override
    {
        if (values.empty())
            return 0.0f;
        const float value = values.front();
        values.pop_front();
        return value;
    }
    std::deque<float> values;
    int seeds = 0;
};

class RecordingCues : public CuePlayer {
public:
    void play(const std::string &path) override { played.push_back(path); }
    std::vector<std::string> played;
};

class MemoryStore : public ScoreStore {
public:
    std::optional<std::string> read() override { return value; }
    bool write(const std::string &text) override
    {
        writes.push_back(text);
        if (!writable)
            return false;
        value = text;
        return true;
    }
    std::optional<std::string> value;
    std::vector<std::string> writes;
    bool writable = true;
};

} // namespace mojitan::testing
