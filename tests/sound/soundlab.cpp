#include "soundlab.h"

#include "childprocess.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mojitan::testing {

long long monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PrivateSoundServer::~PrivateSoundServer() { stop(); }

bool PrivateSoundServer::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    const QString root = m_dir.path();
    for (const char *sub : {"run", "run/pulse", "state", "home"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    // A runtime folder is private to its user, as on a desktop.
    QFile::setPermissions(root + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket = root + QStringLiteral("/run/pulse/native");

    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
    m_env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), root + QStringLiteral("/run/pulse"));
    m_env.insert(QStringLiteral("PULSE_STATE_PATH"), root + QStringLiteral("/state"));
    m_env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/home/.config"));
    // Named outright, so no client goes looking for another server or starts one.
    m_env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + socket);

    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
        *error = QStringLiteral("pulseaudio is not installed (./dev.sh test installs it)");
        return false;
    }
    m_daemon.setProcessEnvironment(m_env);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.setStandardOutputFile(root + QStringLiteral("/daemon.log"));
    // No default script: only the protocol and one null sink, so nothing on this machine
    // (sound cards, saved volumes, idle suspension) changes what is heard. Without rewinds
    // the monitor carries every mixed frame exactly once.
    mojitan::testing::endWithTheTest(m_daemon);
    m_daemon.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--system=no"), QStringLiteral("--realtime=yes"),
                    QStringLiteral("--high-priority=yes"),
                    QStringLiteral("--disable-shm=")
                        + QLatin1String(m_transport == Transport::Socket ? "yes" : "no"),
                    QStringLiteral("--log-target=stderr"),
                    QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=")
                        + socket,
                    QStringLiteral("--load=module-null-sink sink_name=cap rate=44100 norewinds=1")});
    if (!m_daemon.waitForStarted(5000)) {
        *error = QStringLiteral("pulseaudio did not start: ") + m_daemon.errorString();
        return false;
    }
    for (int tries = 0; tries < 100; ++tries) {
        QProcess info;
        info.setProcessEnvironment(m_env);
        info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        if (info.waitForFinished(5000) && info.exitStatus() == QProcess::NormalExit
            && info.exitCode() == 0)
            return true;
        if (m_daemon.state() == QProcess::NotRunning)
            break;
        QThread::msleep(100);
    }
    *error = QStringLiteral("pulseaudio is not answering; see ") + root
             + QStringLiteral("/daemon.log");
    m_dir.setAutoRemove(false);
    return false;
}

void PrivateSoundServer::stop()
{
    mojitan::testing::stopChild(m_daemon);
}

QString PrivateSoundServer::diagnosis() const
{
    QFile log(m_dir.path() + QStringLiteral("/daemon.log"));
    log.open(QIODevice::ReadOnly);
    const QByteArray text = log.readAll();
    return (m_daemon.state() == QProcess::Running
                ? QStringLiteral("the server runs")
                : QStringLiteral("the server has stopped, exit code %1").arg(m_daemon.exitCode()))
           + QStringLiteral("; its log ends:\n") + QString::fromLocal8Bit(text.right(3000));
}

Recorder::~Recorder() { stop(); }

bool Recorder::start(QString *error)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    // Small fragments, or parec holds audio back for seconds.
    const char *argv[] = {"parec", "--latency-msec=10", "-d", "cap.monitor", "--raw",
                          "--format=s16le", "--rate=44100", "--channels=1", nullptr};
    std::vector<QByteArray> envStorage;
    for (const QString &kv : m_env.toStringList())
        envStorage.push_back(kv.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &kv : envStorage)
        envp.push_back(kv.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "parec", &actions, nullptr, const_cast<char **>(argv),
                                envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        *error = QStringLiteral("cannot run parec: ") + QString::fromLocal8Bit(std::strerror(rc));
        return false;
    }
    m_pid = pid;
    // A recorder that waits for the CPU would make the player look late; where allowed
    // (as root), it runs ahead of ordinary processes. Elsewhere this quietly fails.
    setpriority(PRIO_PROCESS, id_t(pid), -10);
    m_reader = std::thread([this, fd = fds[0]] { readLoop(fd); });
    return true;
}

void Recorder::readLoop(int fd)
{
    setpriority(PRIO_PROCESS, id_t(gettid()), -10);
    char buffer[4096];
    bool haveOdd = false;
    char odd = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const long long now = monotonicNs();
        std::lock_guard lock(m_mutex);
        for (ssize_t i = 0; i < n; ++i) {
            if (!haveOdd) {
                odd = buffer[i];
                haveOdd = true;
            } else {
                m_samples.push_back(std::int16_t(std::uint16_t(std::uint8_t(odd))
                                                 | std::uint16_t(std::uint8_t(buffer[i]) << 8)));
                haveOdd = false;
            }
        }
        m_arrivals.push_back({now, long(m_samples.size())});
    }
    close(fd);
}

void Recorder::stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGINT);
        if (m_reader.joinable())
            m_reader.join();
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

bool Recorder::waitUntilSteady(int timeoutMs)
{
    constexpr long long window = 500'000'000;
    const long long deadline = monotonicNs() + timeoutMs * 1'000'000LL;
    while (monotonicNs() < deadline) {
        QThread::msleep(50);
        const long long now = monotonicNs();
        std::lock_guard lock(m_mutex);
        if (m_arrivals.empty() || m_arrivals.front().ns > now - window)
            continue;
        // Frames that arrived in the last half second, against half a second's worth.
        const auto since = std::lower_bound(
            m_arrivals.begin(), m_arrivals.end(), now - window,
            [](const Arrival &a, long long t) { return a.ns < t; });
        const long before = since == m_arrivals.begin() ? 0 : std::prev(since)->framesAfter;
        const double seconds = double(m_arrivals.back().framesAfter - before) / kRecordRate;
        if (std::abs(seconds - 0.5) < 0.05 && now - m_arrivals.back().ns < 50'000'000)
            return true;
    }
    return false;
}

long Recorder::position() const
{
    std::lock_guard lock(m_mutex);
    return long(m_samples.size());
}

std::vector<std::int16_t> Recorder::samples(long from, long to) const
{
    std::lock_guard lock(m_mutex);
    to = std::min(to, long(m_samples.size()));
    if (from >= to)
        return {};
    return {m_samples.begin() + from, m_samples.begin() + to};
}

long long Recorder::arrivalNs(long frame) const
{
    std::lock_guard lock(m_mutex);
    const auto it = std::upper_bound(m_arrivals.begin(), m_arrivals.end(), frame,
                                     [](long f, const Arrival &a) { return f < a.framesAfter; });
    return it == m_arrivals.end() ? -1 : it->ns;
}

bool Recorder::waitForArrivalAfter(long long ns, int timeoutMs) const
{
    const long long deadline = monotonicNs() + timeoutMs * 1'000'000LL;
    while (monotonicNs() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_arrivals.empty() && m_arrivals.back().ns > ns)
                return true;
        }
        QThread::msleep(5);
    }
    return false;
}

} // namespace mojitan::testing
