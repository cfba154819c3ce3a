#pragma once

#include "services.h"

#include <vector>

// What the game is given in place of the real clock, random generator and cues.
namespace mojitan::testing {
struct FakeClock : Clock { double time = 0; double now() override { return time; } };
struct FixedRandom : Random { float value = 0; void seedFromClock() override {} float next() override { return value; } };
struct RecordingCues : CuePlayer { std::vector<std::string> played; void play(const std::string &p) override { played.push_back(p); } };
} // namespace mojitan::testing
