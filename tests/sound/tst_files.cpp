// The cue files the build synthesises: playable 16-bit PCM that any WAV reader accepts, of
// the lengths a game can afford, and telling their three events apart by ear.
#include "pcm.h"

#include <QtTest>

#include <cstdlib>

using namespace mojitan::testing;

namespace {

std::string cuePath(const char *name) { return std::string(MOJITAN_SOUND_DIR "/") + name; }

} // namespace

class CueFilesTest : public QObject {
    Q_OBJECT

private slots:
    void everyCueIsPlainSixteenBitPcm_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("minMs");
        QTest::addColumn<double>("maxMs");
        // Upper bounds: a click must be over before the next key, a fanfare must not hold
        // up the next game.
        QTest::newRow("key") << "key.wav" << 15.0 << 80.0;
        QTest::newRow("wrong") << "wrong.wav" << 100.0 << 400.0;
        QTest::newRow("win") << "win.wav" << 500.0 << 1499.0;
    }

    void everyCueIsPlainSixteenBitPcm()
    {
        QFETCH(QString, name);
        QFETCH(double, minMs);
        QFETCH(double, maxMs);
        const WavFile w = readWav(cuePath(qPrintable(name)));
        QVERIFY2(w.error.empty(), w.error.c_str());
        QCOMPARE(w.formatTag, 1);
        QCOMPARE(w.bitsPerSample, 16);
        QCOMPARE(w.channels, 1);
        QCOMPARE(w.rate, 44100);
        QCOMPARE(w.blockAlign, 2);
        QCOMPARE(w.byteRate, 88200);
        QCOMPARE(std::uint64_t(w.riffSize) + 8, w.fileSize);
        QCOMPARE(std::size_t(w.dataBytes), w.samples.size() * 2);

        const Span span = soundingSpan(w.samples);
        const double ms = toMs(span.length(), w.rate);
        qInfo("%s: %.1f ms of sound in %.1f ms of file", qPrintable(name), ms,
              toMs(long(w.samples.size()), w.rate));
        QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QString::number(ms)));

        // Loud enough to be heard over a keyboard, and never clipped.
        int peak = 0;
        long atFullScale = 0;
        for (std::int16_t v : w.samples) {
            peak = std::max(peak, std::abs(int(v)));
            atFullScale += std::abs(int(v)) >= 32767;
        }
        QVERIFY2(peak > 32768 / 4, qPrintable(QString::number(peak)));
        QCOMPARE(atFullScale, 0L);
        // Starts and ends quietly, or the speaker pops.
        QVERIFY(std::abs(int(w.samples.front())) < kAudible);
        QVERIFY(std::abs(int(w.samples.back())) < kAudible);
    }

    void theClickIsHighAndTheBuzzIsLow()
    {
        const WavFile key = readWav(cuePath("key.wav"));
        const WavFile wrong = readWav(cuePath("wrong.wav"));
        const Span k = soundingSpan(key.samples), w = soundingSpan(wrong.samples);
        const double keyHz = crossingHz(key.samples, k.first, k.last, key.rate);
        const double wrongHz = crossingHz(wrong.samples, w.first, w.last, wrong.rate);
        qInfo("key about %.0f Hz, wrong about %.0f Hz", keyHz, wrongHz);
        QVERIFY2(keyHz > 1500, qPrintable(QString::number(keyHz)));
        QVERIFY2(wrongHz < 300, qPrintable(QString::number(wrongHz)));
    }

    void theFanfareRises()
    {
        const WavFile win = readWav(cuePath("win.wav"));
        const Span s = soundingSpan(win.samples);
        const long tenth = win.rate / 10;
        const double first = crossingHz(win.samples, s.first, s.first + tenth, win.rate);
        const double last = crossingHz(win.samples, s.last - 3 * tenth, s.last, win.rate);
        qInfo("win opens about %.0f Hz, ends about %.0f Hz", first, last);
        QVERIFY2(last > 1.5 * first, qPrintable(QStringLiteral("%1 -> %2").arg(first).arg(last)));
    }
};

QTEST_GUILESS_MAIN(CueFilesTest)
#include "tst_files.moc"
