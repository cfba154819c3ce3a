// The real game, as its own process, on a private desktop: an X server with no window
// manager, a session bus whose accessibility bus is switched on as for a screen reader, and a
// PulseAudio server whose output is recorded. The tests press keys and click buttons through
// XTest, read what is shown from the accessibility tree and from the screen's pixels, and
// listen to what the game played. Nothing reaches inside the game.
//
// The program under test is the one built beside this test, or the one named by
// MOJITAN_E2E_PROGRAM (an installed copy). Failures keep a picture of the screen, the
// accessibility tree and the game's standard error under MOJITAN_E2E_ARTEFACTS.
#include "desktop.h"
#include "pcm.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace mojitan::e2e;
using mojitan::testing::bestMatch;
using mojitan::testing::kRecordRate;
using mojitan::testing::listen;
using mojitan::testing::Listening;
using mojitan::testing::monotonicNs;
using mojitan::testing::toMs;

namespace {

const QString kTitle = QStringLiteral("モジタン");
const QString kHint = QStringLiteral("Enterで開始します。");
const QString kClearQuestion = QStringLiteral("ハイスコアを初期化しますか？");
const QRgb kPureRed = qRgb(255, 0, 0);

// Spots where nothing but a background shows, in the idle and in the playing layout: above
// the letter, in its lower corner, and in the strip right of the column.
const QPoint kBackgroundSpots[] = {{2, 2}, {2, 54}, {101, 58}};
// Where the best time is written, in window pixels.
const QRect kScoreArea(56, 40, 41, 11);

// Generous bounds for a shared two-core machine; a fault of the game misses them by far.
constexpr int kShowsUpMs = 3000;   // a key's effect on the screen
constexpr double kHeardWithinMs = 300; // a key press to its cue at the sound server
constexpr double kLengthToleranceMs = 40;
constexpr double kSameSound = 0.8;   // correlation of a piece of a recorded cue with the file
constexpr double kPiecesFound = 0.75; // share of the cue's pieces found in the recording
constexpr double kOtherSound = 0.5;  // correlation of the recording with a cue not played

struct Cue {
    QString name;
    std::vector<std::int16_t> samples;
    double ms() const { return toMs(long(samples.size()), kRecordRate); }
};

bool isRole(const AtspiNode &n, const char *role) { return n.role == QLatin1String(role); }

const AtspiNode *byName(const AtspiNode &tree, const char *role, const QString &name)
{
    return tree.find([&](const AtspiNode &n) { return isRole(n, role) && n.name == name; });
}

bool showing(const AtspiNode &tree, const char *role, const QString &name)
{
    const AtspiNode *n = byName(tree, role, name);
    return n && n->isShowing();
}

bool hidden(const AtspiNode &tree, const char *role, const QString &name)
{
    const AtspiNode *n = byName(tree, role, name);
    return n && !n->isShowing();
}

// The game's message boxes as a screen reader finds them: every window but the main one.
std::vector<AtspiNode> messageBoxes(GameProcess &game)
{
    AtspiNode app = game.application();
    const AtspiNode main = game.mainWindow();
    std::vector<AtspiNode> boxes;
    for (AtspiNode &w : app.children)
        if (w.ref.path != main.ref.path && w.isShowing())
            boxes.push_back(std::move(w));
    return boxes;
}

// The text of a message box: its longest label.
QString messageText(const AtspiNode &box)
{
    const auto labels = box.findAll([](const AtspiNode &n) { return isRole(n, "label") && !n.name.isEmpty(); });
    QString text;
    for (const AtspiNode *l : labels)
        if (l->name.size() > text.size())
            text = l->name;
    return text;
}

int countPixels(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &match)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += match(image.pixel(x, y)) ? 1 : 0;
    return n;
}

double redShare(const QImage &image)
{
    const int red = countPixels(image, image.rect(), [](QRgb c) { return (c & 0xffffff) == (kPureRed & 0xffffff); });
    return image.isNull() ? 0 : double(red) / (image.width() * image.height());
}

bool backgroundIs(const QImage &image, QRgb colour)
{
    if (image.isNull())
        return false;
    for (QPoint p : kBackgroundSpots)
        if ((image.pixel(p) & 0xffffff) != (colour & 0xffffff))
            return false;
    return true;
}

QString rgb(QRgb c) { return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)); }

QString storedBest(const QString &configHome)
{
    const QString file = configHome + QStringLiteral("/モジタン/モジタン.conf");
    if (!QFile::exists(file))
        return {};
    QSettings settings(file, QSettings::IniFormat);
    return settings.value(QStringLiteral("スコア/速さ")).toString();
}

void storeBest(const QString &configHome, const QString &value)
{
    QSettings settings(configHome + QStringLiteral("/モジタン/モジタン.conf"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("スコア/速さ"), value);
}

// The four figures of the result box.
struct Report {
    int accuracy = -1, msPerLetter = -1, perHour = -1, sheets = -1;
};

std::optional<Report> parseReport(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        "^あなたの正解率は(-?\\d+)%です。\\n一文字あたりの速さ:(-?\\d+)ミリ秒\\n"
        "１時間で(-?\\d+)文字、打てます。\\n原稿用紙にして、(-?\\d+)枚です。$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return Report{m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                  m.captured(4).toInt()};
}

// How much of a cue a recording holds, in 10 ms pieces. Each piece of the file that makes a
// sound is looked for where it should be, or later: a machine that stalls lets the stream
// run dry for a moment and plays the rest late, which is a stutter, not a wrong sound. The
// earliest place that matches is taken, so a piece of a steady tone cannot wander off by
// whole periods and leave the rest of the cue behind.
double piecesFound(const std::vector<std::int16_t> &cue, const std::vector<std::int16_t> &audio,
                   long heardFrom, double minScore)
{
    const long piece = kRecordRate / 100, early = kRecordRate / 100, late = kRecordRate * 15 / 100;
    const long start = heardFrom - mojitan::testing::soundingSpan(cue).first;
    int found = 0, tried = 0;
    long shift = 0;
    for (long at = 0; at + piece <= long(cue.size()); at += piece) {
        const std::vector<std::int16_t> part(cue.begin() + at, cue.begin() + at + piece);
        if (mojitan::testing::soundingSpan(part).empty())
            continue;
        ++tried;
        const long expected = start + at + shift;
        for (long lag = expected - early; lag <= expected + late; ++lag) {
            if (bestMatch(part, audio, lag, lag).score < minScore)
                continue;
            const auto peak = bestMatch(part, audio, lag, lag + kRecordRate / 1000);
            ++found;
            shift = peak.lag - start - at;
            break;
        }
    }
    return tried ? double(found) / tried : 0;
}

// 16-bit mono PCM, as recorded: kept beside a failure so that it can be listened to.
bool writeWav(const QString &path, const std::vector<std::int16_t> &samples)
{
    QFile f(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !f.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 bytes = quint32(samples.size() * 2);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(kRecordRate) << quint32(kRecordRate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << bytes;
    for (std::int16_t v : samples)
        out << qint16(v);
    return out.status() == QDataStream::Ok;
}

} // namespace

class TestGame : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startsIdleAndEnterStartsAGame();
    void wrongKeyPaintsRedAndBuzzesRightKeyRestoresAndClicks();
    void wholeGameReportsOnceAndKeepsTheRecord();
    void clearScoreQuestionNoKeepsYesResets();
    void endButtonEndsAtOnce();
    void closeBoxEndsTheGame();
    void withoutSoundFolderSilentButPlayable();

private:
    QString artefacts() const;
    // Starts the game with the given settings folder; it is stopped, if still running, when
    // the returned object goes.
    std::unique_ptr<GameProcess> launch(const QString &configHome, const QString &program = {});
    // Gives the main window the keyboard, as a window manager would when it appears or when
    // a message box over it goes away.
    bool focusMain(GameProcess &game);
    // Waits for the window's background to be (or to stop being) the colour.
    QImage waitForBackground(GameProcess &game, QRgb colour, bool is = true);
    // Listens from `from` (a recorder position taken before the key at `pressedNs`) for the
    // cue; returns why it was not heard as it should be, or nothing.
    QString checkHeard(long from, long long pressedNs, const Cue &expected);
    QString checkSilent(long from, long long untilNs);
    struct Played {
        long long startNs = 0, firstLetterNs = 0, lastKeyNs = 0, boxNs = 0;
        int wrongKeys = 0;
    };
    // Presses Enter and types every letter shown, with one wrong key before the letter at
    // `wrongAt`, and `whileWrong` to look at the game before the right one; returns once the
    // result box is up, or why it did not come.
    QString playGame(GameProcess &game, int wrongAt, Played *played,
                     const std::function<QString()> &whileWrong = {});
    QString answerBox(GameProcess &game, const std::function<bool(GameProcess &, const AtspiNode &)> &answer);
    void expectCleanExit(GameProcess &game, bool allowMissingSounds = false);

    PrivateDesktop m_desktop;
    QString m_program;
    Cue m_key, m_wrong, m_win;
};

QString TestGame::artefacts() const
{
    const QString root = qEnvironmentVariable("MOJITAN_E2E_ARTEFACTS");
    return root.isEmpty() ? QDir::temp().filePath(QStringLiteral("mojitan-e2e")) : root;
}

void TestGame::initTestCase()
{
    m_program = qEnvironmentVariable("MOJITAN_E2E_PROGRAM", QStringLiteral(MOJITAN_PROGRAM));
    QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program));
    qInfo("playing %s", qPrintable(m_program));

    // The cues are those that sit beside the program, wherever it was installed.
    const QString sounds = QFileInfo(m_program).canonicalPath() + QStringLiteral("/sound/");
    const std::pair<Cue *, const char *> cues[] = {
        {&m_key, "key.wav"}, {&m_wrong, "wrong.wav"}, {&m_win, "win.wav"}};
    for (auto [cue, name] : cues) {
        cue->name = QLatin1String(name);
        const auto wav = mojitan::testing::readWav((sounds + cue->name).toStdString());
        QVERIFY2(wav.error.empty() && wav.rate == kRecordRate && !wav.samples.empty(),
                 qPrintable(sounds + cue->name + QStringLiteral(": ") + QString::fromStdString(wav.error)));
        cue->samples = wav.samples;
    }

    QString error;
    QVERIFY2(m_desktop.start(&error), qPrintable(error));
}

void TestGame::cleanupTestCase() { m_desktop.stop(); }

std::unique_ptr<GameProcess> TestGame::launch(const QString &configHome, const QString &program)
{
    auto game = std::make_unique<GameProcess>(m_desktop, program.isEmpty() ? m_program : program,
                                              configHome, artefacts());
    QString error;
    if (!game->start(&error)) {
        QTest::qFail(qPrintable(error), __FILE__, __LINE__);
        return nullptr;
    }
    return game;
}

bool TestGame::focusMain(GameProcess &game)
{
    return game.focus(game.window())
        && waitUntil([&] { return game.mainWindow().has(AtspiState::Active); }, kShowsUpMs);
}

QImage TestGame::waitForBackground(GameProcess &game, QRgb colour, bool is)
{
    QImage shot;
    waitUntil([&] {
        shot = game.grab();
        return backgroundIs(shot, colour) == is;
    }, kShowsUpMs);
    return shot;
}

QString TestGame::checkHeard(long from, long long pressedNs, const Cue &expected)
{
    auto &recorder = m_desktop.recorder();
    // Long enough for the cue to come and end, with room for a slow start.
    const long long until = pressedNs + (long long)((expected.ms() + kHeardWithinMs + 200) * 1e6);
    recorder.waitForArrivalAfter(until, 5000);
    const std::vector<std::int16_t> audio = recorder.samples(from, recorder.position());
    const Listening heard = listen(audio);
    if (heard.span.empty())
        return expected.name + QStringLiteral(" was not heard");

    const double delayMs = (recorder.arrivalNs(from + heard.span.first) - pressedNs) / 1e6;
    const double heardMs = toMs(heard.heard(), kRecordRate);
    const long slack = kRecordRate * 30 / 1000;
    const double score =
        bestMatch(expected.samples, audio, heard.span.first - slack, heard.span.first + slack).score;
    const double found = piecesFound(expected.samples, audio, heard.span.first, kSameSound);
    QString report = QStringLiteral("%1: heard %2 ms of %3 ms (%4 dropouts), %5 ms after the key, "
                                    "like the file by %6, %7 % of its pieces found")
                         .arg(expected.name)
                         .arg(heardMs, 0, 'f', 1)
                         .arg(expected.ms(), 0, 'f', 1)
                         .arg(heard.dropouts)
                         .arg(delayMs, 0, 'f', 1)
                         .arg(score, 0, 'f', 2)
                         .arg(found * 100, 0, 'f', 0);
    QStringList faults;
    for (const Cue *other : {&m_key, &m_wrong, &m_win}) {
        if (other == &expected)
            continue;
        const double otherScore =
            bestMatch(other->samples, audio, heard.span.first - slack, heard.span.first + slack).score;
        report += QStringLiteral(", like %1 by %2").arg(other->name).arg(otherScore, 0, 'f', 2);
        if (otherScore >= kOtherSound)
            faults << QStringLiteral("it sounds like ") + other->name;
    }
    qInfo("%s", qPrintable(report));
    // A stutter leaves the pieces whole; a wrong or damaged sound does not.
    if (found < kPiecesFound)
        faults << QStringLiteral("it does not sound like the file");
    if (std::abs(heardMs - expected.ms()) > kLengthToleranceMs)
        faults << QStringLiteral("it was not heard in full");
    if (delayMs > kHeardWithinMs || delayMs < 0)
        faults << QStringLiteral("it came late");
    if (faults.isEmpty())
        return {};
    const QString kept = QStringLiteral("%1/%2-%3").arg(artefacts(), QLatin1String(QTest::currentTestFunction()), expected.name);
    if (writeWav(kept, audio))
        report += QStringLiteral(" (recording kept in %1)").arg(kept);
    return report + QStringLiteral(": ") + faults.join(QStringLiteral("; "));
}

QString TestGame::checkSilent(long from, long long untilNs)
{
    auto &recorder = m_desktop.recorder();
    recorder.waitForArrivalAfter(untilNs, 5000);
    const Listening heard = listen(recorder.samples(from, recorder.position()));
    return heard.span.empty()
        ? QString()
        : QStringLiteral("%1 ms of sound were heard").arg(toMs(heard.heard(), kRecordRate), 0, 'f', 1);
}

QString TestGame::playGame(GameProcess &game, int wrongAt, Played *played,
                           const std::function<QString()> &whileWrong)
{
    *played = {};
    played->startNs = monotonicNs();
    if (!game.key(QStringLiteral("Return")))
        return QStringLiteral("xdotool could not press Enter");
    QString previous;
    for (int i = 0; i < 26; ++i) {
        QString shown;
        if (!waitUntil([&] {
                shown = game.letter();
                return !shown.isEmpty() && shown != previous;
            }, kShowsUpMs, 2))
            return QStringLiteral("letter %1 was not shown (still \"%2\")").arg(i + 1).arg(previous);
        if (shown.size() != 1 || shown[0] < u'a' || shown[0] > u'z')
            return QStringLiteral("\"%1\" is not a lower-case letter").arg(shown);
        if (i == 0)
            played->firstLetterNs = monotonicNs();
        if (i == wrongAt) {
            // A digit is never the letter; the same letter stays until the right key.
            game.key(QStringLiteral("7"));
            ++played->wrongKeys;
            const QString counter = QStringLiteral("誤：%1").arg(played->wrongKeys);
            if (!waitUntil([&] { return byName(game.mainWindow(), "label", counter) != nullptr; }, kShowsUpMs))
                return QStringLiteral("the wrong key was not counted");
            if (game.letter() != shown)
                return QStringLiteral("a wrong key changed the letter");
            if (whileWrong)
                if (const QString why = whileWrong(); !why.isEmpty())
                    return why;
        }
        // Taken before the key: the game judges it later, and stops its clock later still.
        played->lastKeyNs = monotonicNs();
        game.key(shown);
        previous = shown;
    }
    if (!waitUntil([&] { return !messageBoxes(game).empty(); }, kShowsUpMs))
        return QStringLiteral("no result box after the last letter");
    played->boxNs = monotonicNs();
    return {};
}

void TestGame::expectCleanExit(GameProcess &game, bool allowMissingSounds)
{
    const std::optional<int> code = game.waitForExit(10000);
    QVERIFY2(code.has_value(), "the game did not end, or crashed");
    QCOMPARE(*code, 0);
    QStringList lines = QString::fromLocal8Bit(game.standardError()).split(u'\n', Qt::SkipEmptyParts);
    if (allowMissingSounds) {
        // A missing cue may be named once on standard error; nothing else may be there.
        static const QRegularExpression missing(QStringLiteral("^mojitan: cannot play .*/sound/(key|wrong|win)\\.wav: "));
        for (const QString &line : lines)
            if (missing.match(line).hasMatch())
                qInfo("the game said: %s", qPrintable(line));
        lines.removeIf([](const QString &l) { return missing.match(l).hasMatch(); });
    }
    QVERIFY2(lines.isEmpty(), qPrintable(lines.join(u'\n')));
}

// The first look at the game: the window as designed, the idle layout, the best time of a
// new player, and Enter starting a game at once.
void TestGame::startsIdleAndEnterStartsAGame()
{
    QTemporaryDir config;
    auto game = launch(config.path());
    QVERIFY(game);

    const std::vector<TopLevel> windows = m_desktop.x().windowsOf(game->pid());
    QCOMPARE(windows.size(), std::size_t(1));
    QCOMPARE(windows[0].title, kTitle);
    QCOMPARE(windows[0].geometry.size(), QSize(104, 60));
    QSize min, max;
    QVERIFY2(m_desktop.x().sizeHints(game->window(), &min, &max), "no size hints");
    QCOMPARE(min, QSize(104, 60)); // the player cannot resize it
    QCOMPARE(max, QSize(104, 60));

    QVERIFY(focusMain(*game));
    const AtspiNode idle = game->mainWindow();
    QCOMPARE(idle.name, kTitle);
    QVERIFY2(showing(idle, "label", QStringLiteral("1000ms")), qPrintable(idle.dump()));
    QVERIFY2(showing(idle, "label", kHint), qPrintable(idle.dump()));
    QVERIFY2(showing(idle, "label", QStringLiteral("ハイスコア")), qPrintable(idle.dump()));
    for (const QString &button : {QStringLiteral("スタート"), QStringLiteral("終了"), QStringLiteral("スコア消去")})
        QVERIFY2(showing(idle, "push button", button), qPrintable(idle.dump()));
    QVERIFY2(byName(idle, "push button", QStringLiteral("スタート"))->has(AtspiState::Focused),
             qPrintable(idle.dump()));
    QVERIFY2(hidden(idle, "panel", QStringLiteral("成績")), qPrintable(idle.dump()));
    QCOMPARE(game->letter(), QString());

    QVERIFY(game->key(QStringLiteral("Return")));
    QString first;
    QVERIFY2(waitUntil([&] { first = game->letter(); return !first.isEmpty(); }, kShowsUpMs),
             "Enter did not start a game");
    QVERIFY2(QRegularExpression(QStringLiteral("^[a-z]$")).match(first).hasMatch(), qPrintable(first));
    const AtspiNode playing = game->mainWindow();
    QVERIFY2(showing(playing, "panel", QStringLiteral("成績")), qPrintable(playing.dump()));
    QVERIFY2(showing(playing, "label", QStringLiteral("正:0")), qPrintable(playing.dump()));
    QVERIFY2(showing(playing, "label", QStringLiteral("誤:0")), qPrintable(playing.dump()));
    for (const QString &button : {QStringLiteral("スタート"), QStringLiteral("終了"), QStringLiteral("スコア消去")})
        QVERIFY2(hidden(playing, "push button", button), qPrintable(playing.dump()));
    QVERIFY2(hidden(playing, "label", kHint), qPrintable(playing.dump()));
    QVERIFY2(hidden(playing, "label", QStringLiteral("1000ms")), qPrintable(playing.dump()));

    // Ending in the middle of a game is allowed and quiet.
    QVERIFY(m_desktop.x().requestClose(game->window()));
    expectCleanExit(*game);
}

// A wrong key turns the window red and buzzes; the right one gives the colour back, clicks
// and brings the next letter.
void TestGame::wrongKeyPaintsRedAndBuzzesRightKeyRestoresAndClicks()
{
    QTemporaryDir config;
    auto game = launch(config.path());
    QVERIFY(game);
    QVERIFY(focusMain(*game));
    const QImage idle = game->grab();
    const QRgb base = idle.pixel(kBackgroundSpots[0]);
    QVERIFY2(backgroundIs(idle, base), "the idle window has no plain background");
    QCOMPARE(redShare(idle), 0.0);

    QVERIFY(game->key(QStringLiteral("Return")));
    QString letter;
    QVERIFY(waitUntil([&] { letter = game->letter(); return !letter.isEmpty(); }, kShowsUpMs));

    auto &recorder = m_desktop.recorder();
    long from = recorder.position();
    long long pressed = monotonicNs();
    QVERIFY(game->key(QStringLiteral("1")));
    QImage red = waitForBackground(*game, kPureRed);
    QVERIFY2(backgroundIs(red, kPureRed),
             qPrintable(QStringLiteral("the background is %1 after a wrong key").arg(rgb(red.pixel(2, 2)))));
    QVERIFY2(redShare(red) > 0.6, qPrintable(QString::number(redShare(red))));
    QString why = checkHeard(from, pressed, m_wrong);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    AtspiNode window = game->mainWindow();
    QVERIFY2(showing(window, "label", QStringLiteral("誤：1")), qPrintable(window.dump()));
    QCOMPARE(game->letter(), letter);

    from = recorder.position();
    pressed = monotonicNs();
    QVERIFY(game->key(letter));
    const QImage back = waitForBackground(*game, base);
    QVERIFY2(backgroundIs(back, base),
             qPrintable(QStringLiteral("the background is %1, not %2").arg(rgb(back.pixel(2, 2)), rgb(base))));
    QCOMPARE(redShare(back), 0.0);
    why = checkHeard(from, pressed, m_key);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    window = game->mainWindow();
    QVERIFY2(showing(window, "label", QStringLiteral("正：1")), qPrintable(window.dump()));
    QVERIFY2(showing(window, "label", QStringLiteral("誤：1")), qPrintable(window.dump()));
    QString next;
    QVERIFY2(waitUntil([&] { next = game->letter(); return !next.isEmpty() && next != letter; }, kShowsUpMs),
             "no next letter after the right key");

    QVERIFY(m_desktop.x().requestClose(game->window()));
    expectCleanExit(*game);
}

// A whole game: one result box with the four lines, a record that plays the fanfare, is
// written to the settings file and greets the player at the next start.
void TestGame::wholeGameReportsOnceAndKeepsTheRecord()
{
    QTemporaryDir config;
    Report report;
    {
        auto game = launch(config.path());
        QVERIFY(game);
        QVERIFY(focusMain(*game));
        Played played;
        const QString why = playGame(*game, 4, &played);
        QVERIFY2(why.isEmpty(), qPrintable(why));

        // Ticks keep coming while the box is open; they must not bring a second one.
        QTest::qWait(400);
        const std::vector<AtspiNode> boxes = messageBoxes(*game);
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(game->dialogs().size(), std::size_t(1));
        QCOMPARE(game->dialogs()[0].title, kTitle);
        const QString text = messageText(boxes[0]);
        const std::optional<Report> parsed = parseReport(text);
        QVERIFY2(parsed, qPrintable(QStringLiteral("the box says: ") + text));
        report = *parsed;
        qInfo("the box says: %s", qPrintable(QString(text).replace(u'\n', u' ')));

        QCOMPARE(report.accuracy, 26 * 100 / 27); // 26 right keys of 27
        // The game's clock runs from the start button to the tick after the last key. Ours
        // runs longer from before Enter to the box, and shorter from seeing the first letter
        // to sending the last key.
        const double longestMs = (played.boxNs - played.startNs) / 1e6 / 26;
        const double shortestMs = (played.lastKeyNs - played.firstLetterNs) / 1e6 / 26;
        QVERIFY2(report.msPerLetter >= std::floor(shortestMs) && report.msPerLetter <= std::ceil(longestMs),
                 qPrintable(QStringLiteral("%1 ms per letter, not between %2 and %3")
                                .arg(report.msPerLetter).arg(shortestMs).arg(longestMs)));
        QVERIFY2(report.msPerLetter > 0 && report.msPerLetter < 1000,
                 "this machine was too slow for a record, so the rest cannot be checked");
        QVERIFY2(report.perHour <= 3600000 / report.msPerLetter
                     && report.perHour > 3600000 / (report.msPerLetter + 1) - 1,
                 qPrintable(QString::number(report.perHour)));
        QCOMPARE(report.sheets, report.perHour / 800);

        // OK is the default button; Enter closes the box. Then the fanfare.
        QVERIFY(game->focus(game->dialogs()[0].id));
        auto &recorder = m_desktop.recorder();
        const long from = recorder.position();
        const long long pressed = monotonicNs();
        QVERIFY(game->key(QStringLiteral("Return")));
        QVERIFY2(waitUntil([&] { return messageBoxes(*game).empty(); }, kShowsUpMs), "the box stayed");
        const QString heard = checkHeard(from, pressed, m_win);
        QVERIFY2(heard.isEmpty(), qPrintable(heard));

        QCOMPARE(storedBest(config.path()), QString::number(report.msPerLetter));
        const QString best = QString::number(report.msPerLetter) + QStringLiteral("ms");
        QVERIFY(focusMain(*game));
        const AtspiNode idle = game->mainWindow();
        QVERIFY2(showing(idle, "label", best), qPrintable(idle.dump()));
        QVERIFY2(hidden(idle, "panel", QStringLiteral("成績")), qPrintable(idle.dump()));
        QVERIFY2(showing(idle, "push button", QStringLiteral("スタート")), qPrintable(idle.dump()));
        QVERIFY2(byName(idle, "push button", QStringLiteral("スタート"))->has(AtspiState::Focused),
                 qPrintable(idle.dump()));
        QCOMPARE(game->letter(), QString());
        // A new record is written in red.
        const QImage shot = game->grab();
        const int reddish = countPixels(shot, kScoreArea, [](QRgb c) {
            return qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100;
        });
        QVERIFY2(reddish > 5, qPrintable(QStringLiteral("%1 red pixels in the best time").arg(reddish)));

        QVERIFY(game->click(byName(idle, "push button", QStringLiteral("終了"))->onScreen));
        expectCleanExit(*game);
    }

    auto again = launch(config.path());
    QVERIFY(again);
    const QString best = QString::number(report.msPerLetter) + QStringLiteral("ms");
    const AtspiNode window = again->mainWindow();
    QVERIFY2(showing(window, "label", best), qPrintable(window.dump()));
    QVERIFY(m_desktop.x().requestClose(again->window()));
    expectCleanExit(*again);
    QCOMPARE(storedBest(config.path()), QString::number(report.msPerLetter));
}

QString TestGame::answerBox(GameProcess &game,
                            const std::function<bool(GameProcess &, const AtspiNode &)> &answer)
{
    std::vector<AtspiNode> boxes;
    if (!waitUntil([&] { boxes = messageBoxes(game); return !boxes.empty(); }, kShowsUpMs))
        return QStringLiteral("no question came");
    if (boxes.size() != 1)
        return QStringLiteral("%1 boxes came").arg(boxes.size());
    if (messageText(boxes[0]) != kClearQuestion)
        return QStringLiteral("the question is \"%1\"").arg(messageText(boxes[0]));
    if (game.dialogs().size() != 1 || game.dialogs()[0].title != kTitle)
        return QStringLiteral("the question's window is not titled %1").arg(kTitle);
    if (!answer(game, boxes[0]))
        return QStringLiteral("could not answer the question:\n") + boxes[0].dump();
    if (!waitUntil([&] { return messageBoxes(game).empty(); }, kShowsUpMs))
        return QStringLiteral("the question stayed");
    return {};
}

// The clear-score button asks first; No keeps the best time, Yes puts it back to 1000. Either
// way Enter then starts a game.
void TestGame::clearScoreQuestionNoKeepsYesResets()
{
    QTemporaryDir config;
    storeBest(config.path(), QStringLiteral("384"));
    auto game = launch(config.path());
    QVERIFY(game);
    QVERIFY(focusMain(*game));
    AtspiNode window = game->mainWindow();
    QVERIFY2(showing(window, "label", QStringLiteral("384ms")), qPrintable(window.dump()));
    const QRect clear = byName(window, "push button", QStringLiteral("スコア消去"))->onScreen;

    // No, with the mouse.
    QVERIFY(game->click(clear));
    QString why = answerBox(*game, [](GameProcess &g, const AtspiNode &box) {
        const auto buttons = box.findAll([](const AtspiNode &n) { return isRole(n, "push button"); });
        const AtspiNode *no = byName(box, "push button", QStringLiteral("いいえ(N)"));
        return buttons.size() == 2 && no && byName(box, "push button", QStringLiteral("はい(Y)"))
            && g.click(no->onScreen);
    });
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(storedBest(config.path()), QStringLiteral("384"));
    QVERIFY(focusMain(*game));
    window = game->mainWindow();
    QVERIFY2(showing(window, "label", QStringLiteral("384ms")), qPrintable(window.dump()));
    QVERIFY2(byName(window, "push button", QStringLiteral("スタート"))->has(AtspiState::Focused),
             qPrintable(window.dump()));

    // Yes, with Enter: it is the default button.
    QVERIFY(game->click(clear));
    why = answerBox(*game, [](GameProcess &g, const AtspiNode &) {
        const std::vector<TopLevel> boxes = g.dialogs();
        return boxes.size() == 1 && g.focus(boxes[0].id) && g.key(QStringLiteral("Return"));
    });
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(storedBest(config.path()), QStringLiteral("1000"));
    QVERIFY(focusMain(*game));
    window = game->mainWindow();
    QVERIFY2(showing(window, "label", QStringLiteral("1000ms")), qPrintable(window.dump()));
    QVERIFY2(byName(window, "push button", QStringLiteral("スタート"))->has(AtspiState::Focused),
             qPrintable(window.dump()));

    QVERIFY(game->key(QStringLiteral("Return")));
    QVERIFY2(waitUntil([&] { return !game->letter().isEmpty(); }, kShowsUpMs),
             "Enter after the question did not start a game");
    QVERIFY(m_desktop.x().requestClose(game->window()));
    expectCleanExit(*game);
}

// The end button closes the game at once and leaves the settings alone.
void TestGame::endButtonEndsAtOnce()
{
    QTemporaryDir config;
    auto game = launch(config.path());
    QVERIFY(game);
    const AtspiNode window = game->mainWindow();
    const AtspiNode *end = byName(window, "push button", QStringLiteral("終了"));
    QVERIFY2(end && end->isShowing(), qPrintable(window.dump()));
    QVERIFY(game->click(end->onScreen));
    expectCleanExit(*game);
    QVERIFY(!QFile::exists(config.path() + QStringLiteral("/モジタン/モジタン.conf")));
}

// The close box in the title bar ends the game too.
void TestGame::closeBoxEndsTheGame()
{
    QTemporaryDir config;
    auto game = launch(config.path());
    QVERIFY(game);
    QVERIFY(m_desktop.x().requestClose(game->window()));
    expectCleanExit(*game);
}

// Without its sound folder the game is silent and plays on to the end as usual.
// robustness: the real program started without its "sound" folder | silent; plays a whole game to the result box and the record; one line per missing cue on standard error | the game and the record
void TestGame::withoutSoundFolderSilentButPlayable()
{
    QTemporaryDir config, elsewhere;
    const QString copy = elsewhere.filePath(QStringLiteral("mojitan"));
    QVERIFY(QFile::copy(QFileInfo(m_program).canonicalFilePath(), copy));
    QVERIFY(!QFileInfo::exists(elsewhere.filePath(QStringLiteral("sound"))));

    auto &recorder = m_desktop.recorder();
    const long from = recorder.position();
    auto game = launch(config.path(), copy);
    QVERIFY(game);
    QVERIFY(focusMain(*game));

    Played played;
    QString why = playGame(*game, 0, &played, [&] {
        return backgroundIs(waitForBackground(*game, kPureRed), kPureRed)
            ? QString() : QStringLiteral("a wrong key did not paint the window red");
    });
    QVERIFY2(why.isEmpty(), qPrintable(why));
    const std::vector<AtspiNode> boxes = messageBoxes(*game);
    QCOMPARE(boxes.size(), std::size_t(1));
    const std::optional<Report> report = parseReport(messageText(boxes[0]));
    QVERIFY2(report, qPrintable(messageText(boxes[0])));
    QCOMPARE(report->accuracy, 96);
    QVERIFY(game->focus(game->dialogs()[0].id));
    QVERIFY(game->key(QStringLiteral("Return")));
    QVERIFY(waitUntil([&] { return messageBoxes(*game).empty(); }, kShowsUpMs));
    QCOMPARE(storedBest(config.path()), QString::number(report->msPerLetter));

    why = checkSilent(from, monotonicNs() + 1'500'000'000LL);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(m_desktop.x().requestClose(game->window()));
    expectCleanExit(*game, true);
}

QTEST_GUILESS_MAIN(TestGame)
#include "tst_e2e.moc"
