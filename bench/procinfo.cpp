#include "procinfo.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>

namespace mojitan::bench {

namespace {

// The fields of a /proc stat line after the command name, which may itself hold spaces.
std::vector<std::string> statFields(const std::string &line)
{
    std::vector<std::string> fields;
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return fields;
    std::istringstream rest(line.substr(close + 1));
    std::string f;
    while (rest >> f)
        fields.push_back(f);
    return fields;
}

} // namespace

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Child spawnProgram(const std::string &program, const std::vector<std::string> &args,
                   const std::vector<std::string> &env, const std::string &out,
                   const std::string &err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.empty() ? "/dev/null" : err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    Child child;
    child.startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    if (posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

bool waitChild(pid_t pid, int timeoutMs, int *status)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int s = 0;
        const pid_t r = waitpid(pid, &s, WNOHANG);
        if (r == pid) {
            if (status)
                *status = s;
            return true;
        }
        if (r < 0)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void endChild(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!waitChild(pid, 3000)) {
        kill(pid, SIGKILL);
        waitChild(pid, 3000);
    }
}

Memory memoryOf(pid_t pid)
{
    Memory m;
    const std::string base = "/proc/" + std::to_string(pid);
    std::istringstream status(readFile(base + "/status"));
    std::string key;
    long value = 0;
    std::string line;
    while (std::getline(status, line))
        if (std::istringstream(line) >> key >> value && key == "VmRSS:")
            m.rssKiB = value;
    std::istringstream rollup(readFile(base + "/smaps_rollup"));
    while (std::getline(rollup, line))
        if (std::istringstream(line) >> key >> value && key == "Pss:")
            m.pssKiB = value;
    return m;
}

std::map<std::string, long> residentByMapping(pid_t pid)
{
    std::map<std::string, long> byName;
    std::istringstream smaps(readFile("/proc/" + std::to_string(pid) + "/smaps"));
    std::string line, current = "[anonymous]";
    while (std::getline(smaps, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first.find('-') != std::string::npos && first.back() != ':') {
            // "start-end perms offset dev inode [path]"
            std::string perms, offset, dev, inode, path;
            fields >> perms >> offset >> dev >> inode;
            std::getline(fields >> std::ws, path);
            if (path.empty())
                current = "[anonymous]";
            else if (path.front() == '[')
                current = path.substr(0, path.find(']') + 1);
            else
                current = path.substr(path.rfind('/') + 1);
        } else if (first == "Rss:") {
            long kib = 0;
            fields >> kib;
            byName[current] += kib;
        }
    }
    return byName;
}

std::map<pid_t, ThreadCpu> threadCpu(pid_t pid)
{
    std::map<pid_t, ThreadCpu> threads;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return threads;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string task = dir + "/" + e->d_name;
        ThreadCpu t;
        t.name = readFile(task + "/comm");
        while (!t.name.empty() && t.name.back() == '\n')
            t.name.pop_back();
        const std::vector<std::string> f = statFields(readFile(task + "/stat"));
        // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
        if (f.size() > 12)
            t.ticks = std::stol(f[11]) + std::stol(f[12]);
        std::istringstream(readFile(task + "/schedstat")) >> t.ns;
        threads[pid_t(std::stol(e->d_name))] = t;
    }
    closedir(d);
    return threads;
}

long processTicks(pid_t pid)
{
    const std::vector<std::string> f = statFields(readFile("/proc/" + std::to_string(pid) + "/stat"));
    return f.size() > 12 ? std::stol(f[11]) + std::stol(f[12]) : -1;
}

long ticksPerSecond() { return sysconf(_SC_CLK_TCK); }

} // namespace mojitan::bench
