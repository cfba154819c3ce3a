// One run of the game as far as the best time goes: the real store behind the real game
// logic in a headless window, so a test can see what one process leaves for the next.
//   storeprobe load            prints what lblScore shows after start-up
//   storeprobe save TEXT [N]   saves TEXT N times in one run; exit 1 when a save failed
//   storeprobe clear           answers Yes to the clear-score question
//   storeprobe churn A B       saves A and B in turn until it is killed
//   storeprobe watch N         loads N times, printing what each load would show
#include "game.h"
#include "headlesswindow.h"
#include "settingsscorestore.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace mojitan;

namespace {

class StillClock : public Clock {
public:
    double now() override { return 0; }
};

class FlatRandom : public Random {
public:
    void seedFromClock() override {}
    float next() override { return 0; }
};

class Silence : public CuePlayer {
public:
    void play(const std::string &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    SettingsScoreStore store;

    if (command == "save" && argc >= 3) {
        const int times = argc > 3 ? std::atoi(argv[3]) : 1;
        bool saved = true;
        for (int i = 0; i < times; ++i)
            saved = store.write(argv[2]) && saved;
        return saved ? 0 : 1;
    }
    if (command == "churn" && argc == 4) {
        for (;;) {
            store.write(argv[2]);
            store.write(argv[3]);
        }
    }

    HeadlessWindow window;
    StillClock clock;
    FlatRandom random;
    Silence cues;
    Game game(window, clock, random, cues, store);
    game.Form_Load("/nonexistent");
    if (command == "load" || command == "clear") {
        if (command == "clear")
            game.Command1_Click(); // an unscripted box takes its default button, Yes
        std::puts(window.caption(Control::lblScore).c_str());
        return 0;
    }
    if (command == "watch" && argc == 3) {
        for (int i = 0, n = std::atoi(argv[2]); i < n; ++i) {
            game.LoadHiScore();
            game.InitGame(); // puts the loaded time in lblScore
            std::puts(window.caption(Control::lblScore).c_str());
        }
        return 0;
    }
    return 2;
}
