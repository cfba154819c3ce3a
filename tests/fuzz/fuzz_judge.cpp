// A game fed arbitrary typing through its real window: each input is a run of keystrokes,
// split at 0xff, each inserted into the box as a paste and judged on the next tick.
#include "../fakes.h"
#include "mainwindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cstdlib>

using namespace mojitan;

namespace {
testing::FakeClock fakeClock;
testing::ScriptedRandom scripted; // 0: the letters come in alphabetical order
testing::RecordingCues cues;
testing::MemoryStore store;
MainWindow *window = nullptr;

void check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QApplication(*argc, *argv);
    window = new MainWindow(fakeClock, scripted, cues, store);
    window->show();
    return 0;
}

// robustness: arbitrary typing: invalid UTF-8, control characters, long pastes, ticks while the result box is open (fuzzed in every test run) | judges each as one keystroke; counts only rise; the game can always be finished | the deck, the counts and the record
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Game &game = window->game();
    cues.played.clear();
    auto *edit = static_cast<QLineEdit *>(window->control(Control::txtMoji));
    const auto shown = [&] { return static_cast<QLabel *>(window->control(Control::lblMoji))->text(); };
    const auto tick = [&] {
        if (game.state().Mode == ModeFinish) // the result box closes once it has been seen
            QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        game.Timer1_Timer();
    };
    const std::string input(reinterpret_cast<const char *>(data), size);
    for (std::size_t from = 0; from <= input.size();) {
        const std::size_t to = std::min(input.find('\xff', from), input.size());
        if (game.state().Mode == ModeIdle)
            game.cmdStart_Click();
        fakeClock.time += 0.5;
        tick();
        edit->insert(QString::fromUtf8(input.data() + from, qsizetype(to - from)));
        const GameState before = game.state();
        const QString typed = edit->text();
        tick();
        const GameState &after = game.state();
        if (before.Mode == ModeAwait && !typed.isEmpty()) {
            const bool right = typed == shown();
            check(after.MaruCount == before.MaruCount + right && edit->text().isEmpty());
            check(after.BatuCount == before.BatuCount + (!right && before.BatuCount < 32767));
        }
        check(after.MaruCount + after.MojiLeft + 1 + (after.Mode == ModeAwait) == kLetterCount);
        for (int i = 0; i < after.MojiLeft; ++i)
            check(after.Moji[std::size_t(i)] < after.Moji[std::size_t(i) + 1]);
        from = to + 1;
    }
    return 0;
}
