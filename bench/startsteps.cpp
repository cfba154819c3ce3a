// Where start-up time goes: the game's start-up, step by step in the order its main() takes
// them, each step stamped with the clock, CPU time and page faults, until the first frame is
// on screen.
// Built a second time without the game (MOJITAN_STEPS_BASELINE) for the bare window, so that
// it loads no more libraries than the baseline does. Whoever started the program subtracts
// its own clock reading from the stamps.
// Each line: step <monotonic ns> <process CPU ns> <page faults> <name>
#include "baselinewindow.h"
#include "probeapp.h"
#include "stats.h"

#ifndef MOJITAN_STEPS_BASELINE
#include "application.h"
#include "mainwindow.h"
#include "sdlcueplayer.h"
#include "settingsscorestore.h"
#include "systemservices.h"
#endif

#include <QFontMetrics>
#include <QTranslator>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

using namespace mojitan::bench;

namespace {

struct Step {
    std::string name;
    long long ns;     // monotonic clock
    long long cpuNs;  // CPU time of the whole process so far
    long faults;      // page faults so far, minor and major
};
std::vector<Step> steps;

// Wall time alone would blame a step for a busy machine; CPU time and page faults say how
// much of it was this program's own work, and how much of that was touching new memory.
void step(const char *name)
{
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    steps.push_back({name, nowNs(), cpu.tv_sec * 1'000'000'000LL + cpu.tv_nsec,
                     usage.ru_minflt + usage.ru_majflt});
}

// Ends the run once `window`'s first frame is on the screen.
void finishOnFirstFrame(ProbeApplication &app, QWidget &window)
{
    app.onEvent = [&app, &window](QObject *receiver, QEvent *event) {
        if (event->type() == QEvent::Paint && receiver == &window)
            app.watchThisFrame();
    };
    app.onFrameShown = [](long long) {
        step("first frame shown");
        for (const Step &s : steps)
            std::printf("step %lld %lld %ld %s\n", s.ns, s.cpuNs, s.faults, s.name.c_str());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    };
}

} // namespace

int main(int argc, char *argv[])
{
    step("main() entered");
    ProbeApplication app(argc, argv);
    step("QApplication built");

#ifdef MOJITAN_STEPS_BASELINE
    BaselineWindow window;
    step("window built");
    finishOnFirstFrame(app, window);
    window.show();
    return QApplication::exec();
#else
    using namespace mojitan;
    setApplicationIdentity();
    step("icon set");

    QTranslator buttons;
    installButtonTranslation(buttons);
    step("translator installed");

    const std::string sounds = QApplication::applicationDirPath().toStdString() + "/sound/";
    SdlCuePlayer cues;
    step("sound device opened");
    for (const char *name : {"key.wav", "wrong.wav", "win.wav"})
        cues.preload(sounds + name);
    step("cues read");

    // The window's gothic, taken out of the first paint so that its cost shows on its own.
    QFont gothic;
    gothic.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                        QStringLiteral("Noto Sans CJK JP")});
    gothic.setPointSizeF(9);
    (void)QFontMetrics(gothic).horizontalAdvance(QStringLiteral("スタート終了成績"));
    step("Japanese font loaded");

    SteadyClock clock;
    ClockSeededRandom random;
    SettingsScoreStore store;
    MainWindow window(clock, random, cues, store);
    step("window built");
    finishOnFirstFrame(app, window);
    window.show();
    return QApplication::exec();
#endif
}
