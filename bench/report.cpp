// results.md, written from one run's measurements. Every verdict and every explanation in it
// is computed from the figures of the same run; nothing is carried over from an earlier one.
#include "measures.h"
#include "stats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <sstream>

namespace mojitan::bench {

namespace {

// Targets the game is held to.
constexpr double kKeyP99TargetMs = 3.0;
constexpr double kStartupRatioTarget = 1.25;
constexpr double kMemoryRatioTarget = 1.25;
constexpr double kTimingErrorTargetMs = 1.0;
// At rest the game is to cost what the bare window costs, give or take this much CPU time per
// second: one tick of the kernel's accounting over the 10 s measured.
constexpr double kIdleSlackMsPerS = 1.0;
// A start-up step that costs less than this is not worth a sentence.
constexpr double kStepWorthMs = 2.0;
constexpr int kLetters = 26;

std::string fixed(double v, int decimals = 1)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string msText(double v, int decimals = 2) { return fixed(v, decimals) + " ms"; }
std::string mib(double kib) { return fixed(kib / 1024.0, 1) + " MiB"; }
std::string ratio(double a, double b) { return b > 0 ? fixed(a / b, 2) + " ×" : "—"; }
std::string verdict(bool met) { return met ? "**met**" : "**missed**"; }

std::string row(std::initializer_list<std::string> cells)
{
    std::string r = "|";
    for (const std::string &c : cells)
        r += " " + c + " |";
    return r + "\n";
}

const std::vector<double> &seriesOf(const KeyResult &k, const std::string &name)
{
    static const std::vector<double> none;
    const auto it = k.series.find(name);
    return it == k.series.end() ? none : it->second;
}

std::string summaryRow(const std::vector<double> &v, const std::string &what)
{
    const Summary s = summarize(v);
    if (!s.n)
        return "";
    return row({what, std::to_string(s.n), msText(s.p50), msText(s.p99), msText(s.max)});
}

bool isSharedLibrary(const std::string &name) { return name.find(".so") != std::string::npos; }

bool isFontFile(const std::string &name)
{
    for (const char *ext : {".ttf", ".otf", ".ttc", ".pcf", ".pfb"})
        if (name.find(ext) != std::string::npos)
            return true;
    return false;
}

// What a start-up step of the game is, and what the game could do about its cost.
std::string stepAdvice(const std::string &step)
{
    if (step == "main() entered")
        return "this is the dynamic loader mapping and relocating the libraries the game links; "
               "see the libraries that only the game loads under memory below";
    if (step == "sound device opened")
        return "construct the cue player once the first frame is on screen, behind a "
               "forwarding `CuePlayer` that is silent until then; no cue can be asked for "
               "before the first key. A zero-delay timer after `show()` is too early: it runs "
               "before the window's first paint";
    if (step == "cues read")
        return "read the cues together with the deferred device opening";
    if (step == "Japanese font loaded")
        return "the first frame cannot be drawn without the gothic, so this stays";
    if (step == "translator installed")
        return "install the Qt translation just before the first message box";
    if (step == "icon set")
        return "the icon's images are read here; the window icon can as well be set after the "
               "first frame";
    if (step == "window built")
        return "the widgets, their fonts and palettes, and the stored score; most of it is "
               "first use of Qt code and fonts (see its page faults)";
    if (step == "first frame shown")
        return "the first paint rasterises the gothic's glyphs for every caption at each of "
               "its sizes; it shrinks only with fewer sizes or fewer captions";
    return "";
}

struct StepCost {
    std::string name;
    double gameMs = 0, baseMs = 0;  // duration of the step, median
    double gameCpuMs = 0, gameFaults = 0;
};

std::vector<StepCost> stepCosts(const StepTimes &game, const StepTimes &base)
{
    std::vector<StepCost> costs;
    double prevAt = 0, prevCpu = 0, prevFaults = 0;
    for (const StepRuns &s : game) {
        StepCost c;
        c.name = s.name;
        const double at = median(s.atMs), cpu = median(s.cpuMs), faults = median(s.faults);
        c.gameMs = at - prevAt;
        c.gameCpuMs = cpu - prevCpu;
        c.gameFaults = faults - prevFaults;
        prevAt = at;
        prevCpu = cpu;
        prevFaults = faults;
        costs.push_back(c);
    }
    double basePrev = 0;
    for (const StepRuns &s : base) {
        const double at = median(s.atMs);
        for (StepCost &c : costs)
            if (c.name == s.name)
                c.baseMs = at - basePrev;
        basePrev = at;
    }
    return costs;
}

} // namespace

std::string writeReport(const Report &r)
{
    std::ostringstream md;
    const long hz = ticksPerSecond();
    const bool keysRan = r.parts.count("keys"), startRan = r.parts.count("start"),
               cpuRan = r.parts.count("cpu"), cuesRan = r.parts.count("cues"),
               stepsRan = r.parts.count("steps");

    // ---- figures used in more than one place
    const KeyResult &k = r.keys;
    const Summary correct = summarize(seriesOf(k, "correct"));
    const Summary judged = summarize(seriesOf(k, "correct_judged"));
    const Summary waitTick = summarize(seriesOf(k, "key_to_tick"));
    const Summary wrong = summarize(seriesOf(k, "wrong"));
    const Summary echo = summarize(seriesOf(k, "echo"));
    const Summary ticks = summarize(seriesOf(k, "tick"));
    const bool keysMet = correct.n >= 2000 && correct.p99 <= kKeyP99TargetMs;
    const bool wrongMet = wrong.n > 0 && wrong.p99 <= kKeyP99TargetMs;

    std::vector<double> gStart, bStart, gMap, bMap, gRss, bRss, gPss, bPss;
    for (const StartRun &s : r.start.game) {
        gStart.push_back(s.drawnMs);
        gMap.push_back(s.mappedMs);
        gRss.push_back(double(s.memory.rssKiB));
        gPss.push_back(double(s.memory.pssKiB));
    }
    for (const StartRun &s : r.start.baseline) {
        bStart.push_back(s.drawnMs);
        bMap.push_back(s.mappedMs);
        bRss.push_back(double(s.memory.rssKiB));
        bPss.push_back(double(s.memory.pssKiB));
    }
    const double startG = median(gStart), startB = median(bStart);
    const double rssG = median(gRss), rssB = median(bRss);
    const bool startMet = startG <= kStartupRatioTarget * startB;
    const bool memMet = rssG <= kMemoryRatioTarget * rssB;

    std::vector<double> reportedErr, clockErr;
    bool accuracyRight = true;
    for (const auto &g : k.games) {
        const double truth = g.trueMs / kLetters;
        reportedErr.push_back(double(g.perLetter) - truth);
        // Letters per hour = 3600 / (E / 26), rounded down: it carries the game's own elapsed
        // time E to six or more digits.
        if (g.perHour > 0)
            clockErr.push_back(3600.0 * 1000.0 / double(g.perHour) - truth);
        accuracyRight = accuracyRight && g.accuracy == g.expectedAccuracy;
    }
    double worstReported = 0, worstClock = 0;
    for (double e : reportedErr)
        worstReported = std::max(worstReported, std::abs(e));
    for (double e : clockErr)
        worstClock = std::max(worstClock, std::abs(e));
    const bool timingMet = !k.games.empty() && worstReported < kTimingErrorTargetMs;

    const double idleG = r.cpu.gameIdle.msPerS(hz), idleB = r.cpu.baselineIdle.msPerS(hz);
    const double playG = r.cpu.gamePlay.msPerS(hz);
    const bool idleMet = idleG <= idleB + kIdleSlackMsPerS;
    const Summary cue = summarize(r.cues.latencies);

    // ---- heading
    md << "# モジタン: performance against a bare Qt window\n\n"
       << "Written by the bench itself: `" << r.command << "`, " << r.machine.date << ", commit "
       << r.machine.commit << ", " << fixed(r.seconds, 0) << " s.\n\n"
       << "The baseline is a bare Qt window of the game's size, 104 × 60, built in the same tree "
          "(`bench/baselinewindow.h`); for keystrokes it shows each key in a label straight from "
          "the key event, the quickest a Qt window can answer. The game and the baseline were "
          "measured side by side in this one run, in turns, on a private Xvfb (no window "
          "manager, no compositor) and a private PulseAudio server with a null sink, taking audio "
          "through shared memory as a desktop's server does. Ratios are "
          "the game's figure over the baseline's.\n\n";

    md << "## Machine\n\n" << row({"", ""}) << row({"---", "---"})
       << row({"nproc", std::to_string(r.machine.cores)}) << row({"CPU", r.machine.cpu})
       << row({"Memory", r.machine.memory}) << row({"Kernel", r.machine.kernel})
       << row({"Qt", r.machine.qt}) << row({"Compiler, build", r.machine.compiler + ", " + r.machine.build})
       << row({"Load average as the run began", fixed(r.machine.loadAverage, 2)})
       << row({"CPU used by other processes during the run",
               r.machine.otherBusy < 0 ? "unknown"
                                       : fixed(100 * r.machine.otherBusy, 0) + " % of all CPUs"})
       << "\n";
    if (r.machine.otherBusy > 0.1)
        md << "Other work kept the machine busy during this run, so the tails (p99, max) "
              "include waits for a CPU that a quiet machine would not have; both the game and "
              "the baseline, measured in turns, met the same conditions.\n\n";

    // ---- summary
    md << "## Summary\n\n" << row({"Measure", "モジタン", "Baseline", "Ratio", "Target", "Verdict"})
       << row({"---", "---:", "---:", "---:", "---", "---"});
    if (keysRan)
        md << row({"Key → next letter on screen, p99 (" + std::to_string(correct.n) + " keys)",
                   msText(correct.p99), msText(echo.p99), ratio(correct.p99, echo.p99),
                   "≤ " + fixed(kKeyP99TargetMs, 0) + " ms", verdict(keysMet)})
           << row({"Key → next letter on screen, p50", msText(correct.p50), msText(echo.p50),
                   ratio(correct.p50, echo.p50), "—", "—"})
           << row({"Wrong key → red window on screen, p99 (" + std::to_string(wrong.n) + " keys)",
                   msText(wrong.p99), msText(echo.p99), ratio(wrong.p99, echo.p99),
                   "≤ " + fixed(kKeyP99TargetMs, 0) + " ms", verdict(wrongMet)});
    if (startRan)
        md << row({"Start-up, exec → first frame, median of " + std::to_string(r.runs),
                   msText(startG, 1), msText(startB, 1), ratio(startG, startB),
                   "≤ " + fixed(kStartupRatioTarget, 2) + " ×", verdict(startMet)})
           << row({"Resident memory with the window shown, median of " + std::to_string(r.runs),
                   mib(rssG), mib(rssB), ratio(rssG, rssB),
                   "≤ " + fixed(kMemoryRatioTarget, 2) + " ×", verdict(memMet)});
    if (cpuRan)
        md << row({"CPU at rest, over " + std::to_string(kCpuSeconds) + " s", fixed(idleG, 1) + " ms/s",
                   fixed(idleB, 1) + " ms/s", ratio(idleG, idleB),
                   "≤ baseline + " + fixed(kIdleSlackMsPerS, 0) + " ms/s", verdict(idleMet)})
           << row({"CPU in a game waiting for a key, over " + std::to_string(kCpuSeconds) + " s",
                   fixed(playG, 1) + " ms/s", fixed(idleB, 1) + " ms/s (at rest)",
                   ratio(playG, idleB), "—", "—"});
    if (keysRan)
        md << row({"\\|reported − true\\| ms per letter, worst of " + std::to_string(k.games.size()) + " games",
                   msText(worstReported, 3), "—", "—", "< " + fixed(kTimingErrorTargetMs, 0) + " ms",
                   verdict(timingMet)});
    if (cuesRan)
        md << row({"Cue: `play()` → first recorded sample, p50 / max", msText(cue.p50, 1) + " / " + msText(cue.max, 1),
                   "—", "—", "—", "—"});
    md << "\n";

    // ---- keys
    if (keysRan) {
        md << "## Keystroke to next letter\n\n"
           << "`bench_keys` links `mojitan_ui` and builds the game as its `main()` does: the real "
              "`SteadyClock`, the SDL cue player with the game's sounds, the settings store, and "
              "the window's own 1 ms `Timer1` in a real Qt event loop. Keys are real X key "
              "events, sent through XTest by a thread of the bench at random moments 1–6 ms after "
              "the previous answer was on screen, so that they fall anywhere within a tick. A "
              "stretch starts when Qt hands the key event to the game's window "
              "(`QApplication::notify`, receiver the window) and ends when the frame with the "
              "answer is on the screen: Qt has painted and flushed it, and the X server has "
              "answered a request sent after the flush. "
           << k.games.size() - std::size_t(k.processes) << " games of 26 letters with 3 wrong keys "
              "each, in " << k.processes << " processes taken in turns with the baseline's; the "
              "26th key of a game opens the result box and brings no letter. Each process first "
              "plays one more game, which pays for drawing each letter for the first time; those "
              "games are the next to last row.\n\n"
           << row({"Stretch", "n", "p50", "p99", "max"}) << row({"---", "---:", "---:", "---:", "---:"})
           << summaryRow(seriesOf(k, "correct"), "right key at the window → next letter on screen")
           << summaryRow(seriesOf(k, "correct_send"), "right key sent → next letter on screen")
           << summaryRow(seriesOf(k, "send_to_window"), "key sent → key at the window")
           << summaryRow(seriesOf(k, "key_handled"), "the window handles the key event")
           << summaryRow(seriesOf(k, "key_to_tick"), "key at the window → next tick")
           << summaryRow(seriesOf(k, "correct_judged"), "right key at the window → judged (its cue started)")
           << summaryRow(seriesOf(k, "wrong"), "wrong key at the window → red window on screen")
           << summaryRow(seriesOf(k, "wrong_judged"), "wrong key at the window → judged (its cue started)")
           << summaryRow(seriesOf(k, "enter"), "Enter at the window → first letter on screen")
           << summaryRow(seriesOf(k, "tick"), "interval between two ticks in play")
           << summaryRow(seriesOf(k, "echo"), "**baseline**: key at the window → key on screen")
           << summaryRow(seriesOf(k, "echo_send"), "**baseline**: key sent → key on screen")
           << summaryRow(seriesOf(k, "echo_send_to_window"), "**baseline**: key sent → key at the window")
           << summaryRow(seriesOf(k, "first_correct"), "first game of a process: right key → next letter")
           << summaryRow(seriesOf(k, "first_echo"), "**baseline**, first 26 keys: key → key on screen")
           << "\n";
        md << "A right key is answered in three parts: it waits for the next tick (median "
           << msText(waitTick.p50) << "), that tick judges it and sets the game to draw (key → judged "
           << "median " << msText(judged.p50) << ", p99 " << msText(judged.p99)
           << "), and the tick after it draws the next letter, which is then painted (key → on "
              "screen median " << msText(correct.p50) << "). Ticks came every "
           << msText(ticks.p50, 3) << " at the median, " << msText(ticks.p99, 3) << " at p99 and "
           << msText(ticks.max, 1) << " at most. The baseline answers within the key event itself: "
           << msText(echo.p50) << " at the median, " << msText(echo.p99) << " at p99.\n\n";
        if (!keysMet || !wrongMet) {
            md << "**Missed.** ";
            if (echo.p99 > kKeyP99TargetMs)
                md << "Even the bare window's p99 is " << msText(echo.p99)
                   << " on this machine, so part of the tail is the machine's (waits for a CPU, "
                      "the X server's turn). ";
            md << "The game's own share is the path through two ticks: about "
               << msText(std::max(0.0, correct.p50 - echo.p50)) << " at the median and "
               << msText(std::max(0.0, correct.p99 - echo.p99)) << " at p99 above the baseline. "
                  "What would close it: run the tick as soon as `txtMoji`'s text changes (connect "
                  "`QLineEdit::textChanged` to `Timer1_Timer` while the timer runs), and after a "
                  "tick that leaves `Mode` at 1 run one more at once, so that the judged key's "
                  "next letter is drawn in the same pass. The steps and their order stay as they "
                  "are; only the wait for the timer leaves the path, and the 1 ms timer remains "
                  "for everything else.\n\n";
        }

        // ---- timing
        md << "## Honest timing\n\n"
           << "For each of the same games, the first ones included (" << k.games.size()
           << " in all), the true time runs from the "
              "moment Enter was sent to the moment the 26th right key was sent, both read on the "
              "monotonic clock in the sending thread; the game's figures are read from the text of "
              "its result box. The game rounds the milliseconds per letter down, so that figure "
              "may lie up to 1 ms below the exact one by design; letters per hour carries the "
              "game's elapsed time to six or more digits, which shows the clock's own error.\n\n"
           << row({"Measure, over all games", "p50", "worst", "Target"})
           << row({"---", "---:", "---:", "---"})
           << row({"reported ms per letter − true ms per letter",
                   msText(median(reportedErr), 3), msText(worstReported, 3),
                   "\\|worst\\| < 1 ms: " + verdict(timingMet)})
           << row({"game's elapsed time per letter − true", msText(median(clockErr), 3),
                   msText(worstClock, 3), "—"})
           << row({"accuracy shown = 26 / (26 + wrong keys sent)", accuracyRight ? "every game" : "**not every game**", "", "—"})
           << "\n";
        std::vector<double> pace;
        for (const auto &g : k.games)
            pace.push_back(g.trueMs / kLetters);
        const Summary p = summarize(pace);
        md << "True pace over these games: " << msText(p.min, 1) << " to " << msText(p.max, 1)
           << " per letter. The game's time runs from its start button to its finish step, two "
              "ticks after the last key, so it is a little longer than the player's; over 26 "
              "letters that is the difference in the second row.\n\n";
    }

    // ---- start-up
    if (startRan) {
        md << "## Start-up and memory\n\n"
           << "Seen from outside: the bench has its own X connection, watches the root window for "
              "the program's window to be created, mapped and first drawn into (the DAMAGE "
              "extension, checked against the window's pixels), and times that from just before "
              "`posix_spawn`. Resident memory is read from `/proc` half a second after the first "
              "frame. " << r.runs << " runs of each program in turns, after one unrecorded run of "
              "each.\n\n"
           << row({"Measure, median", "モジタン", "Baseline", "Ratio"}) << row({"---", "---:", "---:", "---:"})
           << row({"exec → window mapped", msText(median(gMap), 1), msText(median(bMap), 1),
                   ratio(median(gMap), median(bMap))})
           << row({"exec → first frame drawn", msText(startG, 1), msText(startB, 1), ratio(startG, startB)})
           << row({"resident set (VmRSS)", mib(rssG), mib(rssB), ratio(rssG, rssB)})
           << row({"proportional set (Pss)", mib(median(gPss)), mib(median(bPss)),
                   ratio(median(gPss), median(bPss))})
           << "\n";
        const Summary gs = summarize(gStart), bs = summarize(bStart);
        md << "First frame over the runs: モジタン " << msText(gs.min, 1) << " to " << msText(gs.max, 1)
           << ", baseline " << msText(bs.min, 1) << " to " << msText(bs.max, 1) << ".\n\n";
        if (!r.start.gameStderr.empty())
            md << "The game wrote to standard error:\n\n```\n" << r.start.gameStderr << "\n```\n\n";
    }

    if (stepsRan) {
        const std::vector<StepCost> costs = stepCosts(r.gameSteps, r.baselineSteps);
        const std::size_t runs = r.gameSteps.empty() ? 0 : r.gameSteps.front().atMs.size();
        md << "### Where start-up time goes\n\n"
           << "`bench_startup_steps` goes through the game's start-up in the order of its `main()` "
              "and stamps each step with the clock, the process's CPU time and its page faults; "
              "the game's gothic is measured once before the window is built, so that its "
              "loading shows on its own. `bench_startup_steps_baseline` does the same for the "
              "bare window and links nothing else. Medians of " << runs << " runs of each, in "
              "turns.\n\n"
           << row({"Step", "モジタン", "of which CPU", "page faults", "Baseline"})
           << row({"---", "---:", "---:", "---:", "---:"});
        for (const StepCost &c : costs)
            md << row({c.name, msText(c.gameMs, 1), msText(c.gameCpuMs, 1), fixed(c.gameFaults, 0),
                       c.baseMs > 0 ? msText(c.baseMs, 1) : "—"});
        md << "\n";
        if (startRan && !startMet) {
            std::vector<StepCost> extra = costs;
            std::sort(extra.begin(), extra.end(), [](const StepCost &a, const StepCost &b) {
                return a.gameMs - a.baseMs > b.gameMs - b.baseMs;
            });
            md << "**Missed.** The game reaches its first frame " << msText(startG - startB, 1)
               << " after the bare window; within the target it would be at most "
               << msText((kStartupRatioTarget - 1) * startB, 1) << " after it, so "
               << msText(startG - kStartupRatioTarget * startB, 1) << " has to go. The steps, by "
                  "what they cost beyond the baseline's:\n\n";
            for (const StepCost &c : extra) {
                const double over = c.gameMs - c.baseMs;
                std::string advice = stepAdvice(c.name);
                if (over < kStepWorthMs || advice.empty())
                    continue;
                advice[0] = char(std::toupper(static_cast<unsigned char>(advice[0])));
                md << "- *" << c.name << "*: +" << msText(over, 1) << " (" << msText(c.gameCpuMs, 1)
                   << " CPU, " << fixed(c.gameFaults, 0) << " page faults). " << advice << ".\n";
            }
            md << "\n";
        }
    }

    if (startRan) {
        md << "### What the resident memory is\n\n"
           << "Resident KiB by mapping in the last run of each program; a shared library counts "
              "with the pages this process touched.\n\n";
        std::set<std::string> names;
        for (const auto &[n, v] : r.start.gameMappings)
            names.insert(n);
        for (const auto &[n, v] : r.start.baselineMappings)
            names.insert(n);
        long onlyGameLibs = 0, fonts = 0, heap = 0, sharedLibs = 0, other = 0;
        int onlyGameCount = 0, gameLibCount = 0, baseLibCount = 0;
        std::vector<std::pair<long, std::string>> diffs;
        for (const std::string &n : names) {
            const auto g = r.start.gameMappings.find(n), b = r.start.baselineMappings.find(n);
            const bool inGame = g != r.start.gameMappings.end(), inBase = b != r.start.baselineMappings.end();
            const long diff = (inGame ? g->second : 0) - (inBase ? b->second : 0);
            diffs.emplace_back(diff, n);
            if (isSharedLibrary(n)) {
                gameLibCount += inGame;
                baseLibCount += inBase;
            }
            if (isSharedLibrary(n) && inGame && !inBase) {
                onlyGameLibs += diff;
                ++onlyGameCount;
            } else if (isFontFile(n)) {
                fonts += diff;
            } else if (n == "[heap]" || n == "[anonymous]") {
                heap += diff;
            } else if (isSharedLibrary(n)) {
                sharedLibs += diff;
            } else {
                other += diff;
            }
        }
        const long total = onlyGameLibs + fonts + heap + sharedLibs + other;
        md << row({"What the game has more of", "KiB", "share of the difference"})
           << row({"---", "---:", "---:"});
        const auto share = [&](long v) { return total ? fixed(100.0 * double(v) / double(total), 0) + " %" : "—"; };
        md << row({std::to_string(onlyGameCount) + " libraries only the game loads (" +
                       std::to_string(gameLibCount) + " libraries in all, against " +
                       std::to_string(baseLibCount) + ")",
                   std::to_string(onlyGameLibs), share(onlyGameLibs)})
           << row({"font files", std::to_string(fonts), share(fonts)})
           << row({"heap and anonymous memory", std::to_string(heap), share(heap)})
           << row({"more pages of libraries both load", std::to_string(sharedLibs), share(sharedLibs)})
           << row({"everything else", std::to_string(other), share(other)})
           << row({"**total**", std::to_string(total), ""}) << "\n";
        std::sort(diffs.begin(), diffs.end(),
                  [](const auto &a, const auto &b) { return std::abs(a.first) > std::abs(b.first); });
        md << "The largest single differences:\n\n"
           << row({"Mapping", "モジタン", "Baseline", "Difference"}) << row({"---", "---:", "---:", "---:"});
        for (std::size_t i = 0; i < diffs.size() && i < 12; ++i) {
            const auto &[diff, n] = diffs[i];
            const auto g = r.start.gameMappings.find(n), b = r.start.baselineMappings.find(n);
            md << row({"`" + n + "`",
                       std::to_string(g == r.start.gameMappings.end() ? 0 : g->second) + " KiB",
                       std::to_string(b == r.start.baselineMappings.end() ? 0 : b->second) + " KiB",
                       (diff > 0 ? "+" : "") + std::to_string(diff) + " KiB"});
        }
        md << "\n";
        if (!memMet) {
            std::vector<std::string> only;
            for (const auto &[n, v] : r.start.gameMappings)
                if (isSharedLibrary(n) && !r.start.baselineMappings.count(n))
                    only.push_back(n.substr(0, n.find(".so")));
            std::string list;
            for (std::size_t i = 0; i < only.size(); ++i)
                list += (i ? ", " : "") + only[i];
            const double without = double(rssG) - double(onlyGameLibs);
            md << "**Missed.** The game holds " << mib(rssG - rssB) << " more than the bare window; "
               << "within the target it would hold at most " << mib((kMemoryRatioTarget - 1) * rssB)
               << " more. The libraries that only the game loads are " << list << ". Apart from "
                  "Qt's image and SVG plug-ins (the icon), they come with SDL2_mixer (decoders and "
                  "a synthesiser: FLAC, Vorbis, Opus, MP3, MOD, FluidSynth with GLib and JACK) and "
                  "SDL2 (its video back ends: X11 extensions, Wayland, DRM), none of which three "
                  "PCM cues need. Without any of them the game would hold about " << mib(without)
               << ", " << ratio(without, rssB) << " the baseline's, by this run's figures; the "
                  "rest is the gothic (its file, HarfBuzz and FreeType pages, glyph caches) and "
                  "the widgets, which a bare window that draws no text does not have. What would "
                  "come closest: play the preloaded PCM cues through libpulse (or ALSA) directly, "
                  "or mix them in an SDL2 audio callback of the game's own without SDL_mixer, and "
                  "open that device after the first frame.\n\n";
        }
    }

    // ---- CPU
    if (cpuRan) {
        md << "## Cost at rest and in play\n\n"
           << "utime + stime from `/proc/<pid>/stat` over " << kCpuSeconds << " s (the kernel "
              "counts it in ticks of " << fixed(1000.0 / double(hz), 0) << " ms), with the "
              "scheduler's nanosecond account (`/proc/<pid>/task/*/schedstat`) and the busiest "
              "threads beside it. At rest the game and the baseline ran at the same time, each "
              "with its window shown. In play the game had been started with Enter and showed "
              "its first letter, waiting for a key that did not come (";
        md << (r.cpu.gameStarted ? "its window changed on Enter" : "**its window did not change on Enter**")
           << (r.cpu.stillWaiting ? " and not again during the wait" : ", **and changed again during the wait**")
           << ").\n\n"
           << row({"Process, state", "utime+stime", "per second", "schedstat per second", "busiest threads"})
           << row({"---", "---:", "---:", "---:", "---"});
        const auto cpuRow = [&](const std::string &what, const CpuSpan &s) {
            std::string threads;
            for (std::size_t i = 0; i < s.threads.size() && i < 3; ++i) {
                if (s.threads[i].second <= 0)
                    break;
                threads += (i ? ", " : "") + std::string("`") + s.threads[i].first + "` "
                           + fixed(double(s.threads[i].second) / 1e6 / kCpuSeconds, 1) + " ms/s";
            }
            md << row({what, fixed(double(s.ticks) * 1000.0 / double(hz), 0) + " ms",
                       fixed(s.msPerS(hz), 1) + " ms/s",
                       fixed(double(s.ns) / 1e6 / kCpuSeconds, 1) + " ms/s",
                       threads.empty() ? "—" : threads});
        };
        cpuRow("モジタン at rest", r.cpu.gameIdle);
        cpuRow("baseline at rest", r.cpu.baselineIdle);
        cpuRow("モジタン in a game waiting for a key", r.cpu.gamePlay);
        md << "\n";
        if (!idleMet && !r.cpu.gameIdle.threads.empty()) {
            const auto &[name, ns] = r.cpu.gameIdle.threads.front();
            md << "**Missed at rest.** The tick is stopped, yet the game spends "
               << fixed(idleG, 1) << " ms of CPU a second; the busiest thread is `" << name
               << "` with " << fixed(double(ns) / 1e6 / kCpuSeconds, 1) << " ms/s. ";
            if (name.rfind("SDLAudio", 0) == 0)
                md << "That is SDL's audio thread, which hands the sound server a fragment of "
                      "silence every 512 frames (11.6 ms) for as long as the device is open, "
                      "paused or not. What would close the gap: open the device when a game "
                      "starts (off the GUI thread, so the first letter does not wait) and close "
                      "it a few seconds after the game's last cue; or a back end that corks its "
                      "stream while nothing plays.";
            md << "\n\n";
        }
        if (!r.cpu.gamePlay.threads.empty())
            md << "In play the 1 ms tick polls the input box about a thousand times a second "
                  "whether a key has come or not; judging keys when the text changes, as "
                  "suggested for key latency above, would leave the timer idle between keys.\n\n";
    }

    // ---- cues
    if (cuesRan) {
        md << "## Cue latency\n\n"
           << "`SdlCuePlayer::play()` with `key.wav`, called in the bench process against the "
              "private PulseAudio server, whose null sink's monitor is recorded by `parec "
              "--latency-msec=10` (the recorder of the cue player's tests, `tests/sound/soundlab`). "
              "A stretch runs from the call to the arrival of the first recorded sample above 1 % "
              "of full scale, less the time the file itself takes to reach that level; it "
              "includes the recorder's own fragment, so it is an upper bound. "
           << r.cues.latencies.size() << " plays 200 ms apart, after one play straight after the "
              "device was opened.\n\n"
           << row({"Stretch", "n", "p50", "p99", "max"}) << row({"---", "---:", "---:", "---:", "---:"})
           << summaryRow(r.cues.latencies, "`play()` → first recorded sample")
           << summaryRow(r.cues.callMs, "`play()` returns")
           << row({"first play after the device opened", "1",
                   r.cues.firstMs >= 0 ? msText(r.cues.firstMs) : "**not heard**", "", ""})
           << "\n";
        if (r.cues.unheard)
            md << "**" << r.cues.unheard << " plays were not heard at all.**\n\n";
    }

    // ---- verdicts
    md << "## Targets\n\n";
    if (keysRan)
        md << "- Key → next letter p99 ≤ 3 ms: " << verdict(keysMet) << ", " << msText(correct.p99)
           << " over " << correct.n << " keys (baseline " << msText(echo.p99) << "); wrong key → red "
           << "window: " << verdict(wrongMet) << ", " << msText(wrong.p99) << ".\n"
           << "- Reported time per letter within 1 ms of the truth: " << verdict(timingMet)
           << ", worst " << msText(worstReported, 3) << ".\n";
    if (startRan)
        md << "- Start-up ≤ 1.25 × baseline: " << verdict(startMet) << ", " << ratio(startG, startB) << ".\n"
           << "- Memory ≤ 1.25 × baseline: " << verdict(memMet) << ", " << ratio(rssG, rssB) << ".\n";
    if (cpuRan)
        md << "- CPU at rest close to nothing (≤ baseline + 1 ms/s): " << verdict(idleMet) << ", "
           << fixed(idleG, 1) << " against " << fixed(idleB, 1) << " ms/s.\n";
    return md.str();
}

} // namespace mojitan::bench
