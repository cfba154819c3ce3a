// The whole bench in one run: a private X server and sound server, the game and the bare
// baseline window measured side by side, and bench/results.md written from what was measured.
//
//   mojitan_bench [--out FILE]        where results.md goes (default: bench/results.md)
//                 [--runs N]          start-up runs of each program (11)
//                 [--games N]         games played for key latency and timing (80)
//                 [--keys N]          keys typed into the baseline window (2000)
//                 [--parts LIST]      some of start,cpu,keys,steps,cues (all)
//                 [--game PROGRAM]    another build of the game for start-up, memory and CPU
//                 [--keep DIR]        keep the probes' raw output there
//                 [--command TEXT]    how the run was asked for, for the report
#include "measures.h"
#include "procinfo.h"
#include "sdlcueplayer.h"
#include "soundlab.h"
#include "pcm.h"
#include "stats.h"
#include "xkeyboard.h"
#include "xwatch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

using namespace mojitan::bench;
namespace lab = mojitan::testing;

namespace {


void progress(const std::string &what)
{
    std::fprintf(stderr, "bench: %s\n", what.c_str());
}

// Ends the servers of a run that failed half-way; set while they run.
std::function<void()> g_cleanUp;

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "bench: failed: %s\n", why.c_str());
    if (g_cleanUp)
        g_cleanUp();
    std::exit(1);
}

double ms(long long ns) { return double(ns) / 1e6; }

std::string trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return trim(p.readAllStandardOutput().toStdString());
}

// ---------------------------------------------------------------------------------------
// The stage: an X server and a sound server of the bench's own.

struct Stage {
    pid_t xvfb = -1;
    std::string display;
    lab::PrivateSoundServer sound{lab::PrivateSoundServer::Transport::SharedMemory};
    std::vector<std::string> env;  // for every program the bench starts
    QProcessEnvironment qenv;

    ~Stage() { endChild(xvfb); }
};

void startXvfb(Stage &stage)
{
    int fds[2];
    if (pipe(fds) != 0)
        die("pipe");
    // Xvfb picks a free display itself and writes its number to descriptor 3 when ready.
    const int writeEnd = fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
    close(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, 3);
    const char *argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24",
                          "-nolisten", "tcp", "-noreset", nullptr};
    if (posix_spawnp(&stage.xvfb, "Xvfb", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
        die("cannot start Xvfb (./dev.sh bench installs it)");
    posix_spawn_file_actions_destroy(&actions);
    close(writeEnd);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos)
        die("Xvfb did not start");
    stage.display = ":" + trim(number);
}

void setUpStage(Stage &stage, const QString &configHome)
{
    startXvfb(stage);
    QString error;
    if (!stage.sound.start(&error))
        die(error.toStdString());
    QProcessEnvironment env = stage.sound.clientEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(stage.display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    stage.qenv = env;
    for (const QString &kv : env.toStringList())
        stage.env.push_back(kv.toStdString());
    qputenv("DISPLAY", QByteArray::fromStdString(stage.display));
}

// ---------------------------------------------------------------------------------------
// Start-up and memory, seen from outside.


struct Launched {
    Child child;
    XWatch::Shown shown;
};

Launched launch(XWatch &watch, const Stage &stage, const std::string &program,
                const std::string &errFile = {})
{
    watch.drain();
    Launched l;
    l.child = spawnProgram(program, {}, stage.env, {}, errFile);
    if (l.child.pid < 0)
        die("cannot start " + program);
    const auto shown = watch.waitForFirstFrame(20000);
    if (!shown) {
        endChild(l.child.pid);
        die(program + " showed no window");
    }
    l.shown = *shown;
    return l;
}

StartRun measureStart(XWatch &watch, const Stage &stage, const std::string &program,
                      std::map<std::string, long> *mappings, const std::string &errFile = {})
{
    const Launched l = launch(watch, stage, program, errFile);
    StartRun r;
    r.drawnMs = ms(l.shown.drawnNs - l.child.startNs);
    r.mappedMs = ms(l.shown.mappedNs - l.child.startNs);
    // Memory is read once the window has settled: whatever it does in its first moments
    // (a sound stream starting, fonts being cached) is part of what it costs.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    r.memory = memoryOf(l.child.pid);
    if (mappings)
        *mappings = residentByMapping(l.child.pid);
    endChild(l.child.pid);
    return r;
}


StartResult measureStarts(XWatch &watch, const Stage &stage, const std::string &game,
                          const std::string &baseline, int runs, const std::string &tmp)
{
    StartResult result;
    // One of each first, not counted: it fills the page cache and the font cache.
    measureStart(watch, stage, game, nullptr);
    measureStart(watch, stage, baseline, nullptr);
    // Taken in turns, so a drift of the machine touches both alike.
    const std::string errFile = tmp + "/mojitan.stderr";
    for (int i = 0; i < runs; ++i) {
        progress("start-up run " + std::to_string(i + 1) + " of " + std::to_string(runs));
        const bool last = i == runs - 1;
        result.game.push_back(measureStart(watch, stage, game, last ? &result.gameMappings : nullptr,
                                           errFile));
        result.baseline.push_back(
            measureStart(watch, stage, baseline, last ? &result.baselineMappings : nullptr));
    }
    result.gameStderr = trim(readFile(errFile));
    return result;
}

// ---------------------------------------------------------------------------------------
// CPU at rest and in play.


CpuSpan cpuBetween(const std::map<pid_t, ThreadCpu> &before, const std::map<pid_t, ThreadCpu> &after)
{
    CpuSpan span;
    std::map<std::string, long long> byName;
    for (const auto &[tid, t] : after) {
        const auto b = before.find(tid);
        const long ticks = t.ticks - (b == before.end() ? 0 : b->second.ticks);
        const long long ns = t.ns - (b == before.end() ? 0 : b->second.ns);
        span.ticks += ticks;
        span.ns += ns;
        byName[t.name] += ns;
    }
    for (const auto &[name, ns] : byName)
        span.threads.emplace_back(name, ns);
    std::sort(span.threads.begin(), span.threads.end(),
              [](const auto &a, const auto &b) { return a.second > b.second; });
    return span;
}


CpuResult measureCpu(XWatch &watch, XKeyboard &keyboard, const Stage &stage,
                     const std::string &game, const std::string &baseline)
{
    CpuResult result;
    const Launched g = launch(watch, stage, game);
    const Launched b = launch(watch, stage, baseline);
    std::this_thread::sleep_for(std::chrono::seconds(1));

    // Both at rest at the same time: the same machine, the same ten seconds.
    progress("CPU at rest, " + std::to_string(kCpuSeconds) + " s");
    auto g0 = threadCpu(g.child.pid), b0 = threadCpu(b.child.pid);
    std::this_thread::sleep_for(std::chrono::seconds(kCpuSeconds));
    result.gameIdle = cpuBetween(g0, threadCpu(g.child.pid));
    result.baselineIdle = cpuBetween(b0, threadCpu(b.child.pid));
    endChild(b.child.pid);

    // Enter starts a game; the first letter then waits for a key that never comes.
    progress("CPU in a game waiting for a key, " + std::to_string(kCpuSeconds) + " s");
    const std::vector<std::uint32_t> idle = watch.pixels(g.shown.window);
    keyboard.focus(g.shown.window);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    keyboard.type(kKeysymReturn);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<std::uint32_t> playing = watch.pixels(g.shown.window);
    result.gameStarted = !playing.empty() && playing != idle;
    g0 = threadCpu(g.child.pid);
    std::this_thread::sleep_for(std::chrono::seconds(kCpuSeconds));
    result.gamePlay = cpuBetween(g0, threadCpu(g.child.pid));
    result.stillWaiting = watch.pixels(g.shown.window) == playing;
    endChild(g.child.pid);
    return result;
}

// ---------------------------------------------------------------------------------------
// Keys, through the in-window probe.


void runKeyProbe(const Stage &stage, const std::string &program, const std::string &mode,
                 int count, const std::string &tmp, KeyResult &into)
{
    const std::string name = tmp + "/keys-" + mode + "-" + std::to_string(into.processes);
    const std::string out = name + ".out", err = name + ".err";
    const Child c = spawnProgram(program, {mode, std::to_string(count)}, stage.env, out, err);
    int status = 0;
    if (!waitChild(c.pid, 240000, &status)) {
        endChild(c.pid);
        die("the key probe (" + mode + ") took too long");
    }
    std::istringstream lines(readFile(out));
    std::string line;
    ++into.processes;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string kind;
        f >> kind;
        if (kind == "sample") {
            std::string series;
            long long ns = 0;
            f >> series >> ns;
            into.series[series].push_back(ms(ns));
        } else if (kind == "game") {
            KeyResult::Game g{};
            long long trueNs = 0;
            f >> g.perLetter >> g.perHour >> g.accuracy >> g.expectedAccuracy >> trueNs;
            g.trueMs = ms(trueNs);
            into.games.push_back(g);
        } else if (kind == "error") {
            die("key probe (" + mode + "): " + line.substr(6) + "\n" + readFile(err));
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die("the key probe (" + mode + ") failed:\n" + readFile(err));
    if (mode == "echo")
        --into.processes;
}

// ---------------------------------------------------------------------------------------
// Cue latency, in this process, against the stage's sound server.


CueResult measureCues(Stage &stage, const std::string &soundDir, int plays)
{
    CueResult result;
    lab::Recorder recorder(stage.sound.clientEnvironment());
    QString error;
    if (!recorder.start(&error))
        die(error.toStdString());
    if (!recorder.waitUntilSteady(20000))
        die("the recording never ran in real time");

    // The player reaches the same server as the programs did.
    const QProcessEnvironment env = stage.sound.clientEnvironment();
    for (const QString &name : env.keys())
        qputenv(name.toLocal8Bit().constData(), env.value(name).toLocal8Bit());

    const std::string key = soundDir + "/key.wav";
    const lab::WavFile file = lab::readWav(key);
    const lab::Span own = lab::soundingSpan(file.samples);
    if (own.empty())
        die("key.wav holds no sound");
    // Time that the file itself spends below the threshold before it is heard.
    const double leadMs = lab::toMs(own.first, file.rate);

    mojitan::SdlCuePlayer player;
    if (!player.isOpen())
        die("the cue player found no sound device");
    player.preload(key);
    const auto playOnce = [&](bool first) {
        const long from = recorder.position();
        const long long call = nowNs();
        player.play(key);
        const long long returned = nowNs();
        std::this_thread::sleep_for(std::chrono::milliseconds(first ? 400 : 200));
        const std::vector<std::int16_t> heard = recorder.samples(from, recorder.position());
        const lab::Span span = lab::soundingSpan(heard);
        if (span.empty()) {
            ++result.unheard;
            return;
        }
        const double latency = ms(recorder.arrivalNs(from + span.first) - call) - leadMs;
        if (first)
            result.firstMs = latency;
        else
            result.latencies.push_back(latency);
        result.callMs.push_back(ms(returned - call));
    };
    playOnce(true);
    for (int i = 0; i < plays; ++i)
        playOnce(false);
    return result;
}

// ---------------------------------------------------------------------------------------
// Start-up step by step, from inside the programs.


void runSteps(XWatch &watch, const Stage &stage, const std::string &program,
              const std::string &tmp, StepTimes &into)
{
    watch.drain();
    const std::string out = tmp + "/steps.out";
    const Child c = spawnProgram(program, {}, stage.env, out);
    if (!waitChild(c.pid, 20000)) {
        endChild(c.pid);
        die("the start-up profile did not finish");
    }
    std::istringstream lines(readFile(out));
    std::string line;
    std::size_t i = 0;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string word, name;
        long long ns = 0, cpuNs = 0;
        long faults = 0;
        if (!(f >> word >> ns >> cpuNs >> faults) || word != "step")
            continue;
        std::getline(f >> std::ws, name);
        if (i >= into.size())
            into.push_back({name, {}, {}, {}});
        into[i].atMs.push_back(ms(ns - c.startNs));
        into[i].cpuMs.push_back(ms(cpuNs));
        into[i].faults.push_back(double(faults));
        ++i;
    }
}

// ---------------------------------------------------------------------------------------
// The machine, and what else it was doing.

// CPU time the whole machine spent busy, and the bench with everything it started.
struct Busy {
    long machine = 0;  // clock ticks, all CPUs
    long ours = 0;     // clock ticks: this process and its reaped children
};

Busy busyNow()
{
    Busy b;
    std::istringstream stat(readFile("/proc/stat"));
    std::string cpu;
    long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    b.machine = user + nice + system + irq + softirq + steal;
    // utime, stime, cutime, cstime are fields 14 to 17.
    const std::string self = readFile("/proc/self/stat");
    std::istringstream rest(self.substr(self.rfind(')') + 1));
    std::vector<long> f;
    std::string field;
    while (rest >> field)
        f.push_back(std::atol(field.c_str()));
    if (f.size() > 14)
        b.ours = f[11] + f[12] + f[13] + f[14];
    return b;
}

Machine describeMachine()
{
    Machine m;
    m.cores = std::thread::hardware_concurrency();
    std::istringstream cpuinfo(readFile("/proc/cpuinfo"));
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0 && m.cpu.empty())
            m.cpu = trim(line.substr(line.find(':') + 2));
    std::istringstream meminfo(readFile("/proc/meminfo"));
    while (std::getline(meminfo, line))
        if (line.rfind("MemTotal:", 0) == 0)
            m.memory = QString::number(std::stod(line.substr(9)) / 1024 / 1024, 'f', 1).toStdString() + " GiB";
    utsname u{};
    uname(&u);
    m.kernel = std::string(u.sysname) + " " + u.release + " " + u.machine;
    m.qt = qVersion();
    m.compiler = MOJITAN_BENCH_COMPILER;
    m.build = MOJITAN_BENCH_BUILD_TYPE;
    const QString source = QStringLiteral(MOJITAN_BENCH_SOURCE_DIR);
    m.commit = run(QStringLiteral("git"), {QStringLiteral("-C"), source, QStringLiteral("rev-parse"),
                                          QStringLiteral("--short"), QStringLiteral("HEAD")});
    if (!run(QStringLiteral("git"), {QStringLiteral("-C"), source, QStringLiteral("status"),
                                     QStringLiteral("--porcelain"), QStringLiteral("--untracked-files=no"),
                                     QStringLiteral("--"), QStringLiteral("src")})
             .empty())
        m.commit += " (with uncommitted changes in src/)";
    m.date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    std::istringstream(readFile("/proc/loadavg")) >> m.loadAverage;
    return m;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::string out = MOJITAN_BENCH_RESULTS;
    std::string command;
    int runs = 11, games = 80, keys = 2000, cuePlays = 40;
    const long long began = nowNs();
    std::string game = MOJITAN_BENCH_GAME;
    std::string keep;
    std::set<std::string> parts = {"start", "cpu", "keys", "steps", "cues"};
    const QStringList args = QCoreApplication::arguments();
    if (args.size() % 2 == 0) {
        std::fprintf(stderr,
                     "usage: mojitan_bench [--out FILE] [--runs N] [--games N] [--keys N]\n"
                     "                     [--parts start,cpu,keys,steps,cues] [--game PROGRAM]\n"
                     "                     [--keep DIR] [--command TEXT]\n");
        return 2;
    }
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &a = args[i];
        const std::string v = args[i + 1].toStdString();
        if (a == QLatin1String("--out"))
            out = v;
        else if (a == QLatin1String("--runs"))
            runs = std::stoi(v);
        else if (a == QLatin1String("--games"))
            games = std::stoi(v);
        else if (a == QLatin1String("--keys"))
            keys = std::stoi(v);
        else if (a == QLatin1String("--command"))
            command = v;
        else if (a == QLatin1String("--game"))
            game = v;
        else if (a == QLatin1String("--keep"))
            keep = v;
        else if (a == QLatin1String("--parts")) {
            parts.clear();
            for (const QString &p : args[i + 1].split(QLatin1Char(',')))
                parts.insert(p.toStdString());
        }
        else
            die("unknown option " + a.toStdString());
    }
    if (command.empty())
        command = args.join(QLatin1Char(' ')).toStdString();

    Report report;
    report.command = command;
    report.runs = runs;
    report.parts = parts;
    report.machine = describeMachine();
    if (report.machine.loadAverage > 0.5)
        progress("the machine is busy (load average " + std::to_string(report.machine.loadAverage)
                 + "); the figures will show it");
    const Busy before = busyNow();

    QTemporaryDir tmp;
    if (!tmp.isValid())
        die("no temporary folder");
    const std::string work = keep.empty() ? tmp.path().toStdString() : keep;
    QDir().mkpath(QString::fromStdString(work));
    QDir(tmp.path()).mkpath(QStringLiteral("config"));

    {
        Stage stage;
        g_cleanUp = [&stage] {
            endChild(stage.xvfb);
            stage.sound.stop();
        };
        setUpStage(stage, tmp.path() + QStringLiteral("/config"));
        progress("X server " + stage.display + " and a private sound server are up");

        XWatch watch;
        if (const std::string error = watch.connect(); !error.empty())
            die(error);
        XKeyboard keyboard;
        if (!keyboard.error().empty())
            die(keyboard.error());

        if (parts.count("start"))
            report.start = measureStarts(watch, stage, game, MOJITAN_BENCH_BASELINE, runs, work);
        if (parts.count("cpu"))
            report.cpu = measureCpu(watch, keyboard, stage, game, MOJITAN_BENCH_BASELINE);
        if (parts.count("keys")) {
            // In turns, a share of the games and then a share of the baseline's keys, so that
            // whatever else the machine does falls on both alike. Each game process plays one
            // more game first, and the baseline types 26 more keys first; those are kept apart.
            const int chunks = std::max(1, std::min(8, games));
            for (int c = 0; c < chunks; ++c) {
                progress("keys: part " + std::to_string(c + 1) + " of " + std::to_string(chunks));
                const int g = games / chunks + (c < games % chunks ? 1 : 0);
                const int k = keys / chunks + (c < keys % chunks ? 1 : 0);
                runKeyProbe(stage, MOJITAN_BENCH_KEYS, "game", g + 1, work, report.keys);
                runKeyProbe(stage, MOJITAN_BENCH_KEYS, "echo", k, work, report.keys);
            }
        }
        if (parts.count("steps")) {
            progress("start-up step by step");
            for (int i = 0; i < runs; ++i) {
                runSteps(watch, stage, MOJITAN_BENCH_STEPS, work, report.gameSteps);
                runSteps(watch, stage, MOJITAN_BENCH_BASELINE_STEPS, work, report.baselineSteps);
            }
        }
        if (parts.count("cues")) {
            progress("cue latency");
            report.cues = measureCues(stage, MOJITAN_BENCH_SOUND_DIR, cuePlays);
        }
        g_cleanUp = nullptr;
    }

    // Everything the bench started has ended and been collected by now, so whatever else
    // the machine did was someone else's.
    const Busy after = busyNow();
    report.seconds = double(nowNs() - began) / 1e9;
    const double available = double(report.machine.cores) * double(ticksPerSecond()) * report.seconds;
    const long others = (after.machine - before.machine) - (after.ours - before.ours);
    report.machine.otherBusy = std::max(0.0, double(others) / available);

    const std::string md = writeReport(report);
    std::ofstream file(out);
    file << md;
    if (!file)
        die("cannot write " + out);
    std::fprintf(stderr, "bench: wrote %s\n", out.c_str());
    return 0;
}
