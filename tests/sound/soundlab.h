#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace mojitan::testing {

constexpr int kRecordRate = 44100;

long long monotonicNs();

// A PulseAudio server of our own with one null sink, living in a temporary folder: it never
// meets the user's server or another test's, and it hears exactly what its clients play.
class PrivateSoundServer {
public:
    // Audio reaches the server over its socket. PulseAudio 16 can abort on its shared-memory
    // import path when a client leaves while its blocks are still queued (seen here under
    // load, as a game exits right after its fanfare), and one crash would silence every later
    // test of a run. A desktop's server does use shared memory, so a measurement of what a
    // player's machine spends asks for it.
    enum class Transport { Socket, SharedMemory };

    explicit PrivateSoundServer(Transport transport = Transport::Socket) : m_transport(transport) {}
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    bool start(QString *error);
    void stop();
    // The environment a client needs to reach this server and no other.
    QProcessEnvironment clientEnvironment() const { return m_env; }
    // Whether the server still runs, and the end of its log: for a failure message.
    QString diagnosis() const;

private:
    Transport m_transport;
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QProcess m_daemon;
};

// Records the null sink's monitor with parec, noting when each piece arrived, so that a
// test can tell not only what was heard but how soon after a call.
class Recorder {
public:
    explicit Recorder(QProcessEnvironment env) : m_env(std::move(env)) {}
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    bool start(QString *error);
    void stop();
    // A fresh null sink runs seconds ahead of the clock and delivers nothing for a while
    // once a recorder asks for low latency; wait until audio arrives in real time.
    bool waitUntilSteady(int timeoutMs);
    // Frames received so far.
    long position() const;
    std::vector<std::int16_t> samples(long from, long to) const;
    // When the frame reached us, on the monotonic clock: a little after the server mixed it.
    long long arrivalNs(long frame) const;
    // Waits until something has arrived after the given moment.
    bool waitForArrivalAfter(long long ns, int timeoutMs) const;

private:
    void readLoop(int fd);

    QProcessEnvironment m_env;
    int m_pid = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::vector<std::int16_t> m_samples;
    struct Arrival {
        long long ns;
        long framesAfter;
    };
    std::vector<Arrival> m_arrivals;
};

} // namespace mojitan::testing
