#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace mojitan::bench {

// A program started by the bench, with the moment just before it was started.
struct Child {
    pid_t pid = -1;
    long long startNs = 0;
};

// Starts `program` with exactly the environment given ("NAME=value" entries), its output
// going to the given files ("" for /dev/null). Returns pid -1 when it cannot be started.
Child spawnProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::vector<std::string> &env, const std::string &out = {},
                   const std::string &err = {});
// Ends a child of ours with SIGTERM (SIGKILL if it lingers) and collects it.
void endChild(pid_t pid);
// Waits for a child to end by itself; false when it was still running at the deadline.
bool waitChild(pid_t pid, int timeoutMs, int *status = nullptr);

// Resident and proportional memory of a process, in KiB.
struct Memory {
    long rssKiB = 0;
    long pssKiB = 0;
};
Memory memoryOf(pid_t pid);
// Resident KiB of a process by what is mapped: a library or file by its file name,
// "[heap]", "[stack]", or "[anonymous]".
std::map<std::string, long> residentByMapping(pid_t pid);

// CPU time of one thread.
struct ThreadCpu {
    std::string name;
    long ticks = 0;      // utime + stime, in clock ticks
    long long ns = 0;    // time on a CPU, from the scheduler's own account
};
// Every thread of a process by thread id.
std::map<pid_t, ThreadCpu> threadCpu(pid_t pid);
// utime + stime of the whole process, in clock ticks.
long processTicks(pid_t pid);
long ticksPerSecond();

std::string readFile(const std::string &path);

} // namespace mojitan::bench
