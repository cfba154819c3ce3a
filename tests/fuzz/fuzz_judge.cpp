// A game fed arbitrary typing through its real window: an input is a run of pastes split at
// 0xff, each judged on the tick after it.
#include "../fakes.h"
#include "mainwindow.h"
#include "settingsscorestore.h"

#include <QtWidgets>

using namespace mojitan;

namespace {
testing::FakeClock fakeClock;
testing::FixedRandom fixed; // the letters come in alphabetical order
testing::RecordingCues cues;
MainWindow *window = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QApplication(*argc, *argv);
    static const QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    (window = new MainWindow(fakeClock, fixed, cues, *new SettingsScoreStore))->show();
    return 0;
}

// robustness: arbitrary typing: invalid UTF-8, control characters, long pastes, ticks while the result box is open (fuzzed in every test run) | judges each paste as one keystroke; counts only rise; the game can always be finished | the deck, the counts and the record
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const GameState &now = window->game().state();
    auto *edit = static_cast<QLineEdit *>(window->control(Control::txtMoji));
    const auto tick = [&] {
        if (now.Mode == ModeFinish) // the result box closes once it is open
            QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        fakeClock.time += 0.5;
        window->game().Timer1_Timer();
    };
    cues.played.clear();
    for (const QByteArray &paste : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\xff')) {
        if (now.Mode == ModeIdle)
            window->game().cmdStart_Click();
        tick();
        edit->insert(QString::fromUtf8(paste));
        const GameState was = now;
        const bool right = edit->text() == static_cast<QLabel *>(window->control(Control::lblMoji))->text();
        const bool judged = was.Mode == ModeAwait && !edit->text().isEmpty();
        tick();
        if ((judged && (now.MaruCount != was.MaruCount + right || now.BatuCount != was.BatuCount + (!right && was.BatuCount < 32767)))
            || now.MaruCount + now.MojiLeft + 1 + (now.Mode == ModeAwait) != kLetterCount || !std::is_sorted(now.Moji.begin(), now.Moji.begin() + now.MojiLeft + 1))
            std::abort();
    }
    return 0;
}
