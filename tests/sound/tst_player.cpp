// The cue player in a real process against a real sound server: a PulseAudio server of the
// test's own with a null sink, whose monitor is recorded. What the recording shows is what a
// player would hear: every cue whole, soon after the key, and nothing from a broken setup.
#include "pcm.h"
#include "soundlab.h"

#include <QtTest>

#include <memory>

using namespace mojitan::testing;

namespace {

// How far the heard length of a cue may stray from its file's.
constexpr double kLengthToleranceMs = 25;
// Dropouts come from a machine too busy to feed the server in time, not from the player;
// they are counted, not failed, up to this much silence, which a player that starved its
// stream all the time would exceed.
constexpr double kDropoutsMs = 100;
// Each recorded check gets this many tries. A stall of this shared machine can delay or
// break up one recording; a fault of the player fails every try.
constexpr int kAttempts = 3;
// From the call to the first sound reaching the recorder.
constexpr double kFirstSoundMs = 60;
// A safety bound for play() coming back: far below the length of any cue, so a player that
// waited for its sound would fail, far above the fraction of a millisecond it takes.
constexpr double kReturnsAtOnceMs = 20;

std::string cuePath(const char *name) { return std::string(MOJITAN_SOUND_DIR "/") + name; }

double ms(long long ns) { return double(ns) / 1e6; }

// One run of the probe program: what it printed, and what the server heard meanwhile.
struct ProbeRun {
    int exitCode = -1;
    bool open = false;
    double openMs = 0;
    struct Call {
        long long calledNs, returnedNs;
        double tookMs() const { return ms(returnedNs - calledNs); }
    };
    std::vector<Call> calls;
    QStringList errors;
    long from = 0;
    std::vector<std::int16_t> audio;
};

ProbeRun runProbe(const QStringList &steps, const QProcessEnvironment &env, Recorder *recorder)
{
    ProbeRun run;
    if (recorder)
        run.from = recorder->position();
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(CUEPROBE_PATH), steps);
    if (!probe.waitForFinished(60000)) {
        probe.kill();
        probe.waitForFinished();
        return run;
    }
    run.exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
    for (const QString &line : QString::fromLocal8Bit(probe.readAllStandardOutput()).split('\n')) {
        const QStringList f = line.split(' ');
        if (f.size() == 3 && f[0] == QLatin1String("open")) {
            run.open = f[1] == QLatin1String("1");
            run.openMs = ms(f[2].toLongLong());
        } else if (f.size() == 3 && f[0] == QLatin1String("play")) {
            run.calls.push_back({f[1].toLongLong(), f[2].toLongLong()});
        }
    }
    run.errors = QString::fromLocal8Bit(probe.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    if (recorder) {
        // The recorder trails the mixer by a fragment; let it catch up with the probe's end.
        const long long end = monotonicNs() + 100'000'000;
        recorder->waitForArrivalAfter(end, 5000);
        run.audio = recorder->samples(run.from, recorder->position());
    }
    return run;
}

std::vector<std::int16_t> soundOf(const std::string &path)
{
    const WavFile w = readWav(path);
    const Span s = soundingSpan(w.samples);
    if (s.empty())
        return {};
    return {w.samples.begin() + s.first, w.samples.begin() + s.last + 1};
}

double peakOf(const std::vector<std::int16_t> &s)
{
    int peak = 0;
    for (std::int16_t v : s)
        peak = std::max(peak, std::abs(int(v)));
    return peak;
}

// The recording with one known sound, found at `lag`, subtracted at the level it was heard.
std::vector<std::int16_t> without(const std::vector<std::int16_t> &audio,
                                  const std::vector<std::int16_t> &sound, long lag)
{
    double dot = 0, energy = 0;
    for (std::size_t i = 0; i < sound.size() && lag + i < audio.size(); ++i) {
        dot += double(sound[i]) * audio[lag + i];
        energy += double(sound[i]) * sound[i];
    }
    const double gain = energy > 0 ? dot / energy : 0;
    std::vector<std::int16_t> rest = audio;
    for (std::size_t i = 0; i < sound.size() && lag + i < rest.size(); ++i)
        rest[lag + i] = std::int16_t(
            std::clamp(std::lround(rest[lag + i] - gain * sound[i]), -32768L, 32767L));
    return rest;
}

// The checks of one try; the first that fails is kept as the reason.
class Verdict {
public:
    void require(bool ok, const QString &what)
    {
        if (!ok && m_failure.isEmpty())
            m_failure = what;
    }
    QString failure() const { return m_failure; }

private:
    QString m_failure;
};

// Runs one try after another until one passes; false with the last reason when none did.
template <typename Try>
bool passesWithin(int attempts, Try attempt, QString *reason)
{
    for (int i = 1; i <= attempts; ++i) {
        *reason = attempt();
        if (reason->isEmpty())
            return true;
        qInfo("try %d of %d failed: %s", i, attempts, qPrintable(*reason));
    }
    return false;
}

} // namespace

class CuePlayerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        m_recorder = std::make_unique<Recorder>(m_server.clientEnvironment());
        QVERIFY2(m_recorder->start(&error), qPrintable(error));
        QVERIFY2(m_recorder->waitUntilSteady(20000), "the recording never ran in real time");
    }

    void cleanupTestCase()
    {
        m_recorder.reset();
        m_server.stop();
    }

    // Each cue is played straight after the device opens, as a key pressed the moment the
    // window appears would be: the first cue must not be lost to a stream still starting.
    void eachCueIsHeardWholeAndSoonFromTheFirstCall_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("key") << "key.wav";
        QTest::newRow("wrong") << "wrong.wav";
        QTest::newRow("win") << "win.wav";
    }

    void eachCueIsHeardWholeAndSoonFromTheFirstCall()
    {
        QFETCH(QString, name);
        const std::string path = cuePath(qPrintable(name));
        const WavFile file = readWav(path);
        const double fileMs = toMs(soundingSpan(file.samples).length(), file.rate);

        QString reason;
        const bool passed = passesWithin(kAttempts, [&] {
            const ProbeRun run = runProbe({"play:" + QString::fromStdString(path),
                                           "sleep:" + QString::number(int(fileMs) + 400)},
                                          m_server.clientEnvironment(), m_recorder.get());
            Verdict v;
            v.require(run.exitCode == 0, QStringLiteral("the probe failed"));
            v.require(run.open, QStringLiteral("no device: ") + m_server.diagnosis());
            v.require(run.errors.isEmpty(), run.errors.join('\n'));
            v.require(run.calls.size() == 1, QStringLiteral("the probe did not play"));
            const Listening heard = listen(run.audio);
            v.require(!heard.span.empty(), QStringLiteral("nothing was heard"));
            if (!v.failure().isEmpty())
                return v.failure();

            const double heardMs = toMs(heard.heard(), kRecordRate);
            const double dropoutMs = toMs(heard.dropoutFrames, kRecordRate);
            // At the file's own level: nothing faded, clipped or turned down on the way.
            const double level = peakOf(run.audio) / peakOf(file.samples);
            const double latencyMs =
                ms(m_recorder->arrivalNs(run.from + heard.span.first) - run.calls[0].calledNs);
            qInfo("%s: heard %.1f of %.1f ms (%d dropouts, %.1f ms) at %.2f of its level; first"
                  " sound %.1f ms after the call; play took %.3f ms; opening took %.1f ms",
                  qPrintable(name), heardMs, fileMs, heard.dropouts, dropoutMs, level, latencyMs,
                  run.calls[0].tookMs(), run.openMs);
            v.require(level > 0.9 && level < 1.1, QStringLiteral("heard at %1 of its level").arg(level));
            v.require(std::abs(heardMs - fileMs) <= kLengthToleranceMs,
                      QStringLiteral("heard %1 ms of %2").arg(heardMs).arg(fileMs));
            v.require(dropoutMs <= kDropoutsMs, QStringLiteral("%1 ms of dropouts").arg(dropoutMs));
            v.require(latencyMs <= kFirstSoundMs,
                      QStringLiteral("first sound after %1 ms").arg(latencyMs));
            v.require(run.calls[0].tookMs() < kReturnsAtOnceMs,
                      QStringLiteral("play took %1 ms").arg(run.calls[0].tookMs()));
            return v.failure();
        }, &reason);
        QVERIFY2(passed, qPrintable(reason));
    }

    // A right key judged on the tick after a wrong one: the second cue starts at once, and
    // the first plays on under it.
    void twoCuesOnConsecutiveCallsBothStart()
    {
        const std::string wrong = cuePath("wrong.wav"), key = cuePath("key.wav");
        const std::vector<std::int16_t> buzz = soundOf(wrong), click = soundOf(key);
        const std::vector<std::int16_t> fanfare = soundOf(cuePath("win.wav"));

        QString reason;
        const bool passed = passesWithin(kAttempts, [&] {
            const ProbeRun run = runProbe(
                {"preload:" + QString::fromStdString(wrong), "preload:" + QString::fromStdString(key),
                 "sleep:200", "play:" + QString::fromStdString(wrong),
                 "play:" + QString::fromStdString(key), "sleep:700"},
                m_server.clientEnvironment(), m_recorder.get());
            Verdict v;
            v.require(run.exitCode == 0, QStringLiteral("the probe failed"));
            v.require(run.errors.isEmpty(), run.errors.join('\n'));
            v.require(run.calls.size() == 2, QStringLiteral("the probe did not play"));
            for (const auto &call : run.calls)
                v.require(call.tookMs() < kReturnsAtOnceMs,
                          QStringLiteral("play took %1 ms").arg(call.tookMs()));
            const Listening heard = listen(run.audio);
            v.require(!heard.span.empty(), QStringLiteral("nothing was heard"));
            if (!v.failure().isEmpty())
                return v.failure();

            const long slack = kRecordRate * 30 / 1000;
            const long first = heard.span.first;
            const Match w = bestMatch(buzz, run.audio, first - slack, first + slack);
            // The buzz drowns the click; take it out and what is left must be the whole click.
            const std::vector<std::int16_t> rest = without(run.audio, buzz, w.lag);
            const Match k = bestMatch(click, rest, first - slack, first + slack);
            // The fanfare was not played; its score shows what "absent" looks like here.
            const Match absent = bestMatch(fanfare, rest, first - slack, first + slack);
            const double apartMs = toMs(std::abs(k.lag - w.lag), kRecordRate);
            qInfo("wrong scores %.2f, then key %.2f (an absent cue %.2f); they start %.1f ms"
                  " apart; heard %.1f ms with %d dropouts; the preloaded plays took %.3f and"
                  " %.3f ms",
                  w.score, k.score, absent.score, apartMs, toMs(heard.heard(), kRecordRate),
                  heard.dropouts, run.calls[0].tookMs(), run.calls[1].tookMs());
            v.require(absent.score < 0.2, QStringLiteral("absent cue scores %1").arg(absent.score));
            v.require(w.score > 0.8, QStringLiteral("wrong scores %1").arg(w.score));
            v.require(k.score > 0.8, QStringLiteral("key scores %1").arg(k.score));
            // One mixing period apart at most, never a cue's length.
            v.require(apartMs <= 25, QStringLiteral("%1 ms apart").arg(apartMs));
            const double heardMs = toMs(heard.heard(), kRecordRate);
            const double wrongMs = toMs(long(buzz.size()), kRecordRate);
            v.require(std::abs(heardMs - wrongMs) <= kLengthToleranceMs,
                      QStringLiteral("heard %1 ms of %2").arg(heardMs).arg(wrongMs));
            return v.failure();
        }, &reason);
        QVERIFY2(passed, qPrintable(reason));
    }

    // A sound folder that was deleted or damaged: nothing is heard, each bad file is named on
    // standard error once however often it is asked for, and the next good cue still plays.
    // robustness: a missing, empty, garbage or cut-short cue file | silent; at most one line per file on standard error | the game and the other cues
    void unplayableFilesAreSilentAndTheGameGoesOn()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString missing = dir.filePath(QStringLiteral("gone/key.wav"));
        const QString empty = dir.filePath(QStringLiteral("empty.wav"));
        const QString garbage = dir.filePath(QStringLiteral("garbage.wav"));
        const QString cut = dir.filePath(QStringLiteral("cut.wav"));
        QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
        {
            QFile f(garbage);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray noise(20000, '\0');
            for (int i = 0; i < noise.size(); ++i)
                noise[i] = char((i * 7919 + 13) % 251);
            f.write(noise);
        }
        {
            QFile whole(QString::fromStdString(cuePath("key.wav")));
            QVERIFY(whole.open(QIODevice::ReadOnly));
            QFile f(cut);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(whole.read(30)); // stops inside the format chunk
        }
        const QString key = QString::fromStdString(cuePath("key.wav"));
        const double keyMs = toMs(long(soundOf(key.toStdString()).size()), kRecordRate);

        QString reason;
        const bool passed = passesWithin(kAttempts, [&] {
            const ProbeRun run = runProbe({"play:" + missing, "play:" + empty, "play:" + garbage,
                                           "play:" + cut, "play:" + missing, "play:" + garbage,
                                           "play:" + cut, "sleep:300", "play:" + key, "sleep:400"},
                                          m_server.clientEnvironment(), m_recorder.get());
            Verdict v;
            v.require(run.exitCode == 0, QStringLiteral("the probe failed"));
            v.require(run.open, QStringLiteral("no device: ") + m_server.diagnosis());
            v.require(run.calls.size() == 8, QStringLiteral("the probe stopped playing"));
            if (!v.failure().isEmpty())
                return v.failure();
            double slowest = 0;
            for (std::size_t i = 0; i + 1 < run.calls.size(); ++i)
                slowest = std::max(slowest, run.calls[i].tookMs());
            qInfo("slowest play of a bad file took %.3f ms; stderr:\n  %s", slowest,
                  qPrintable(run.errors.join(QStringLiteral("\n  "))));
            v.require(slowest < kReturnsAtOnceMs, QStringLiteral("play took %1 ms").arg(slowest));

            v.require(run.errors.size() <= 4, run.errors.join('\n'));
            for (const QString &bad : {missing, empty, garbage, cut})
                v.require(run.errors.filter(bad).size() <= 1, bad + QStringLiteral(" reported twice"));
            v.require(run.errors.filter(key).isEmpty(), QStringLiteral("the good cue was reported"));

            // The only sound is the good cue, and it started after its own call.
            const Listening heard = listen(run.audio);
            if (heard.span.empty())
                return QStringLiteral("the good cue after the bad ones was not heard");
            v.require(m_recorder->arrivalNs(run.from + heard.span.first) > run.calls.back().calledNs,
                      QStringLiteral("something was heard before the good cue"));
            const double heardMs = toMs(heard.heard(), kRecordRate);
            v.require(std::abs(heardMs - keyMs) <= kLengthToleranceMs,
                      QStringLiteral("heard %1 ms of %2").arg(heardMs).arg(keyMs));
            return v.failure();
        }, &reason);
        QVERIFY2(passed, qPrintable(reason));
    }

    // No server and no sound card: the game still starts and plays on in silence, with at
    // most one line on standard error and none of ALSA's or SDL's own chatter.
    // robustness: no sound server at all | starts quickly and plays silently; at most one line on standard error | the game
    void noSoundServerIsQuietAndQuick()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("run"));
        QFile alsaConfig(dir.filePath(QStringLiteral("asound.conf")));
        QVERIFY(alsaConfig.open(QIODevice::WriteOnly));
        alsaConfig.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir.filePath(QStringLiteral("run/pulse")));
        env.insert(QStringLiteral("PULSE_SERVER"), "unix:" + dir.filePath(QStringLiteral("none")));
        env.insert(QStringLiteral("HOME"), dir.path());
        // An ALSA with no devices defined, whatever cards this machine has.
        env.insert(QStringLiteral("ALSA_CONFIG_PATH"), alsaConfig.fileName());

        const QString key = QString::fromStdString(cuePath("key.wav"));
        const QString win = QString::fromStdString(cuePath("win.wav"));
        QString reason;
        const bool passed = passesWithin(kAttempts, [&] {
            const ProbeRun run =
                runProbe({"play:" + key, "play:" + win, "play:" + key}, env, nullptr);
            double slowest = 0;
            for (const auto &call : run.calls)
                slowest = std::max(slowest, call.tookMs());
            qInfo("without a server: opening took %.1f ms, slowest play %.3f ms; stderr:\n  %s",
                  run.openMs, slowest, qPrintable(run.errors.join(QStringLiteral("\n  "))));
            Verdict v;
            v.require(run.exitCode == 0, QStringLiteral("the probe failed"));
            v.require(!run.open, QStringLiteral("a device opened"));
            v.require(run.calls.size() == 3, QStringLiteral("the probe stopped playing"));
            v.require(run.errors.size() <= 1, run.errors.join('\n'));
            v.require(slowest < kReturnsAtOnceMs, QStringLiteral("play took %1 ms").arg(slowest));
            v.require(run.openMs < 2000, QStringLiteral("opening took %1 ms").arg(run.openMs));
            return v.failure();
        }, &reason);
        QVERIFY2(passed, qPrintable(reason));
    }

private:
    PrivateSoundServer m_server;
    std::unique_ptr<Recorder> m_recorder;
};

QTEST_GUILESS_MAIN(CuePlayerTest)
#include "tst_player.moc"
