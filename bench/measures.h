#pragma once

#include "procinfo.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace mojitan::bench {

// Everything one bench run measured, for the report. Times are in milliseconds.

inline constexpr int kCpuSeconds = 10;

struct StartRun {
    double drawnMs = 0;   // exec to the first drawing in the window
    double mappedMs = 0;  // exec to the window mapped
    Memory memory;
};

struct StartResult {
    std::vector<StartRun> game, baseline;
    // Resident KiB by mapping, from the last run of each.
    std::map<std::string, long> gameMappings, baselineMappings;
    std::string gameStderr;
};

struct CpuSpan {
    long ticks = 0;       // utime + stime over the span, in clock ticks
    long long ns = 0;     // time on a CPU by the scheduler's account
    std::vector<std::pair<std::string, long long>> threads;  // name, ns; busiest first
    double msPerS(long ticksPerS) const
    {
        return double(ticks) * 1000.0 / double(ticksPerS) / kCpuSeconds;
    }
};

struct CpuResult {
    CpuSpan gameIdle, baselineIdle, gamePlay;
    bool gameStarted = false;   // the window changed after Enter
    bool stillWaiting = false;  // and did not change again while no key came
};

struct KeyResult {
    // Samples by series, as the key probe names them; "first_" series come from the first
    // game (or first 26 keys) of a process.
    std::map<std::string, std::vector<double>> series;
    struct Game {
        long long perLetter = 0, perHour = 0, accuracy = 0, expectedAccuracy = 0;
        double trueMs = 0;  // Enter sent to the last right key sent
    };
    std::vector<Game> games;
    int processes = 0;  // game processes, each with one first game
};

struct CueResult {
    double firstMs = -1;            // the first play after the device opened
    std::vector<double> latencies;  // every later play
    std::vector<double> callMs;     // how long play() took
    int unheard = 0;
};

// One step of start-up, over all runs: milliseconds from exec, CPU milliseconds of the
// process and page faults so far, one value per run.
struct StepRuns {
    std::string name;
    std::vector<double> atMs, cpuMs, faults;
};
using StepTimes = std::vector<StepRuns>;

struct Machine {
    std::string cpu, memory, kernel, qt, compiler, build, commit, date;
    unsigned cores = 0;
    double loadAverage = 0;    // 1-minute load average as the run began
    double otherBusy = -1;     // share of all CPUs that processes outside the bench used
};

struct Report {
    std::set<std::string> parts;  // which measurements ran
    std::string command;
    double seconds = 0;  // how long the whole run took
    int runs = 0;
    Machine machine;
    StartResult start;
    CpuResult cpu;
    KeyResult keys;
    CueResult cues;
    StepTimes gameSteps, baselineSteps;
};

// The whole of results.md.
std::string writeReport(const Report &report);

} // namespace mojitan::bench
