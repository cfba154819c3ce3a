#!/usr/bin/python3
# Measures the game against the two windows built beside it (windows.cpp) on the private
# desktop of desktop.py beside it, and prints the figures as one markdown table.
# Usage: bench.py BUILD_DIR [start rest cues keys]. With no part named it runs them all and
# writes the table to results.md beside this file too. It reports; it never fails on a figure.
import array, functools, os, re, select, signal, statistics, subprocess, sys, threading, time, wave
from datetime import datetime, timezone

HERE = os.path.dirname(os.path.abspath(__file__))
from desktop import RATE, Desktop  # noqa: E402
from Xlib import X, XK, display, error  # noqa: E402
from Xlib.ext import damage, xtest  # noqa: E402

BUILD = os.path.abspath(sys.argv[1])
PARTS = sys.argv[2:] or ["start", "rest", "cues", "keys"]
GAME, FLOOR, BARE = (
    f"{BUILD}/bin/mojitan",
    f"{BUILD}/bench/mojitan-floor",
    f"{BUILD}/bench/mojitan-bare",
)
SOUND = f"{BUILD}/bin/sound"
ROUNDS, GAMES, REST_S, SETTLE_S = 21, 16, 10, 0.02
CUES = {
    name: array.array("h", (w := wave.open(f"{SOUND}/{name}.wav")).readframes(w.getnframes()))
    for name in ("key", "wrong", "win")
}
RED = b"\x00\x00\xff"  # a pixel as the X server hands it over: blue, green, red, pad
log = functools.partial(print, file=sys.stderr, flush=True)
rows = []


def out(*argv, env=None):
    return subprocess.run(argv, env=env, capture_output=True, text=True).stdout.strip()


def pct(values, p):
    return sorted(values)[min(len(values) - 1, int(p / 100 * len(values)))]


def row(what, game, floor="", bare="", against="", target="for information", met=None):
    verdict = "" if met is None else "met" if met else "**missed**"
    rows.append(f"| {what} | {game} | {floor} | {bare} | {against} | {target} | {verdict} |")


def stop(*procs):
    for proc in procs:
        proc.terminate()
        proc.wait()


def wait_for(probe, timeout=10):
    end = time.monotonic() + timeout
    while not (found := probe()):
        if time.monotonic() > end:
            raise TimeoutError("waited in vain")
        time.sleep(0.002)
    return found


class Screen:
    # One connection to the private X server: new windows and their first frame, keys, and
    # the pixels where the game shows its letter. Programs start with Qt's accessibility off,
    # as on a desktop with no screen reader, unless a part reads them through AT-SPI.
    def __init__(self, desktop, accessible=False):
        self.env = {
            k: v
            for k, v in desktop.env.items()
            if accessible or k != "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"
        }
        self.x = display.Display(desktop.env["DISPLAY"])
        self.x.damage_query_version()
        self.x.set_error_handler(lambda *_: None)  # a window can be gone before it is watched
        self.x.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.drain()

    def drain(self):
        self.x.sync()
        while self.x.pending_events():
            self.x.next_event()

    def first_frame(self):
        # Damage is asked for on each top-level window as it is created, before it can be
        # mapped, so its first damage is its first frame. Returns (monotonic ns, window).
        new, end = set(), time.monotonic() + 10
        while time.monotonic() < end:
            select.select([self.x], [], [], 0.05)
            while self.x.pending_events():
                event = self.x.next_event()
                if event.type == X.CreateNotify:
                    new.add(event.window.id)
                    event.window.damage_create(damage.DamageReportNonEmpty)
                    self.x.flush()
                elif event.type == self.x.extension_event.DamageNotify and event.drawable.id in new:
                    return time.monotonic_ns(), self.x.create_resource_object(
                        "window", event.drawable.id
                    )
        raise TimeoutError("no new window drew")

    def launch(self, program):
        # Returns the process, the milliseconds from exec to its first frame, and its window.
        self.drain()
        start = time.monotonic_ns()
        proc = subprocess.Popen([program], env=self.env, stderr=subprocess.DEVNULL)
        shown, window = self.first_frame()
        return proc, (shown - start) / 1e6, window

    def key(self, name):
        code = self.x.keysym_to_keycode(XK.string_to_keysym(name))
        xtest.fake_input(self.x, X.KeyPress, code)
        xtest.fake_input(self.x, X.KeyRelease, code)
        self.x.flush()
        return time.monotonic_ns()

    def focus(self, window):
        window.set_input_focus(X.RevertToPointerRoot, X.CurrentTime)
        self.x.sync()

    def letter_area(self, window):
        # lblMoji, left of the results frame that covers its right edge during a game
        return window.get_image(0, 8, 48, 49, X.ZPixmap, 0xFFFFFFFF).data

    def timed_key(self, window, name, done):
        # Milliseconds from sending the key until the letter's area is `done`, read just
        # after the image that was: at most one image late.
        start = time.monotonic_ns()
        self.key(name)
        while not done(self.letter_area(window)):
            time.sleep(0.0002)
        return (time.monotonic_ns() - start) / 1e6


def rates(procs, seconds):
    # (CPU ms/s, voluntary context switches/s) of each whole process, summed over its threads.
    # CPU comes from schedstat, the count utime+stime are cut from: they tick in 10 ms steps,
    # too coarse for a fraction of a millisecond per second.
    def counters(pid):
        tasks = [f"/proc/{pid}/task/{t}" for t in os.listdir(f"/proc/{pid}/task")]
        return (
            sum(int(open(f"{t}/schedstat").read().split()[0]) for t in tasks),
            sum(
                int(re.search(r"voluntary_ctxt_switches:\s*(\d+)", open(f"{t}/status").read())[1])
                for t in tasks
            ),
        )

    before = [counters(p.pid) for p in procs]
    time.sleep(seconds)
    return [
        ((a[0] - b[0]) / 1e6 / seconds, (a[1] - b[1]) / seconds)
        for a, b in zip([counters(p.pid) for p in procs], before)
    ]


def start_part(desktop, server):
    screen, progs = Screen(desktop), (GAME, FLOOR, BARE)
    ms, mib = {p: [] for p in progs}, {p: [] for p in progs}
    for _ in range(ROUNDS):
        for prog in progs:
            proc, took, _ = screen.launch(prog)
            time.sleep(0.5)  # the game reads and uploads its cues right after the first frame
            ms[prog].append(took)
            mib[prog].append(
                int(re.search(r"VmRSS:\s*(\d+)", open(f"/proc/{proc.pid}/status").read())[1]) / 1024
            )
            stop(proc)
    for what, figures, most in (
        ("start-up, exec → first frame (ms", ms, 1.05),
        ("resident memory, window shown (MiB", mib, 1.15),
    ):
        game, floor, bare = (statistics.median(figures[p]) for p in progs)
        row(
            f"{what}, median of {ROUNDS} in turns), {server}",
            f"{game:.1f}",
            f"{floor:.1f}",
            f"{bare:.1f}",
            f"{game / floor:.2f} × floor",
            f"≤ {most} × floor",
            game <= most * floor,
        )


def rest_part(desktop):
    # The recorder keeps the sink busy: stopped, an idle sink suspends within a second.
    desktop.recorder.proc.send_signal(signal.SIGINT)
    desktop.recorder.proc.wait()
    out("pactl", "load-module", "module-suspend-on-idle", "timeout=1", env=desktop.env)
    screen = Screen(desktop)
    (game, _, window), (floor, _, _) = screen.launch(GAME), screen.launch(FLOOR)

    def judge(what):
        # The game against the idle floor window over the same seconds; wake-ups are voluntary
        # context switches.
        time.sleep(2)
        (cpu, wakes), (idle_cpu, idle_wakes) = rates([game, floor], REST_S)
        row(
            f"{what}: CPU ms/s, wake-ups/s over {REST_S} s",
            f"{cpu:.3f}, {wakes:.1f}",
            f"{idle_cpu:.3f}, {idle_wakes:.1f}",
            "",
            f"floor {cpu - idle_cpu:+.3f}, {wakes - idle_wakes:+.1f}",
            "≤ floor + 0.5, ≤ floor + 5",
            cpu <= idle_cpu + 0.5 and wakes <= idle_wakes + 5,
        )

    judge("at rest, window shown, no game")
    streams = len(out("pactl", "list", "sink-inputs", "short", env=desktop.env).splitlines())
    state = out("pactl", "list", "sinks", "short", env=desktop.env).split()[-1]
    client = bool(
        re.search(r"\smojitan$", out("pactl", "list", "clients", "short", env=desktop.env), re.M)
    )
    row(
        "at rest: the sound server",
        f'game connected: {"yes" if client else "no"}; {streams} streams; sink {state}',
        target="connected, no stream, sink suspended",
        met=client and streams == 0 and state == "SUSPENDED",
    )
    screen.focus(window)
    screen.key("Return")
    judge("a game started, waiting for its first key")
    stop(game, floor)


def whole_mix(rec, first, second):
    # True when the recording is exactly `first` and `second` mixed, each whole, wherever each
    # starts (their sum clipped, as a mixer does). `first` is found where it sounds alone
    # (`second` is the shorter), then `second` by its quiet start, before any clipping.
    rest, mix = rec.tolist(), [0] * len(rec)
    for cue, at in ((first, len(second) + 2000), (second, 1)):
        part = cue[at : at + 40].tolist()
        o = next(
            (o for o in range(len(rest) - len(cue)) if rest[o + at : o + at + 40] == part), None
        )
        if o is None:
            return False
        for i, v in enumerate(cue):
            rest[o + i] -= v
            mix[o + i] += v
    return rec.tolist() == [max(-32768, min(32767, v)) for v in mix]


def cues_part(desktop):
    # The server is fresh, so the three samples in its cache are the probe's.
    probe = subprocess.Popen(
        [f"{BUILD}/bench/mojitan-cueprobe", SOUND],
        env=desktop.env,
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
    )
    wait_for(
        lambda: len(out("pactl", "list", "samples", "short", env=desktop.env).splitlines()) == 3
    )
    recorder, names, delays, heard = desktop.recorder, list(CUES), [], {n: [] for n in CUES}
    grew = [(time.monotonic_ns(), recorder.position())]  # when the recording grew, and to what

    def watch():
        while probe.poll() is None:
            if (n := recorder.position()) != grew[-1][1]:
                grew.append((time.monotonic_ns(), n))
            time.sleep(0.0005)

    threading.Thread(target=watch, daemon=True).start()

    def play(line, seconds):
        since = recorder.position()
        probe.stdin.write(line + "\n")
        probe.stdin.flush()
        called = [int(t) for t in probe.stdout.readline().split()]
        time.sleep(seconds)
        return called, since, recorder.sounds(since)

    for cue in "01" * 9 + "22":
        name = names[int(cue)]
        called, _, sounds = play(cue, len(CUES[name]) / RATE + 0.2)
        if sounds:  # one not heard at all shows as a length of 0 %
            delays.append((next(ns for ns, n in grew if n > sounds[0][0]) - called[0]) / 1e6)
        heard[name].append(sum(n for _, n in sounds) / len(CUES[name]))
    _, since, _ = play("10", 0.5)
    whole = whole_mix(recorder.samples(since), CUES["wrong"], CUES["key"])
    probe.stdin.close()
    probe.wait()
    p95 = pct(delays, 95)
    row(
        f"cue play() → its first sample at the recorder, p50 / p95 of {len(delays)} (ms)",
        f"{pct(delays, 50):.1f} / {p95:.1f}",
        target="p95 ≤ 30",
        met=p95 <= 30,
    )
    worst = [min(v) for v in heard.values()]
    row(
        "cue recorded length of its file, worst (key, wrong, win)",
        ", ".join(f"{v:.0%}" for v in worst),
        target="≥ 95 % each",
        met=min(worst) >= 0.95,
    )
    row(
        "wrong, then key 1 ms later: the recording is both cues whole",
        "yes" if whole else "no",
        target="both whole",
        met=whole,
    )


def keys_part(desktop):
    import pyatspi  # only now: it finds the private session bus through the environment

    screen = Screen(desktop, accessible=True)
    bare, _, bare_window = screen.launch(BARE)
    bare_window.configure(x=200)  # beside the game's window, not under it
    screen.focus(bare_window)
    screen.key("a")  # the first key loads the font
    game, _, window = screen.launch(GAME)
    app = wait_for(
        lambda: next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "mojitan"), None)
    )

    def find(node, match):
        if match(node.name or ""):
            return node
        return next((hit for child in node if child and (hit := find(child, match))), None)

    def gone(window):
        try:
            return window.get_attributes().map_state != X.IsViewable
        except error.BadWindow:
            return True

    def echoed(letter):
        # The bare window echoes a key after each timed one, so both see the machine alike.
        screen.focus(bare_window)
        time.sleep(SETTLE_S)
        before = screen.letter_area(bare_window)
        echo.append(screen.timed_key(bare_window, letter, lambda px: px != before))
        screen.focus(window)

    keys, reds, echo, off, late, label = [], [], [], [], [], None
    for _ in range(GAMES):
        screen.focus(window)
        sent = screen.key("Return")
        label = label or wait_for(lambda: find(app, lambda name: re.fullmatch("[a-z]", name)))
        shown = ""
        for i in range(26):
            shown = wait_for(lambda: (name := label.name) != shown and name)
            time.sleep(SETTLE_S)
            before = screen.letter_area(window)
            if i % 4 == 1:
                reds.append(
                    screen.timed_key(window, "z" if shown != "z" else "y", lambda px: px[:3] == RED)
                )
                before = None  # the right key after a wrong one repaints twice: left untimed
            if i == 25:
                screen.drain()
                last = screen.key(shown)
                boxed, box = screen.first_frame()
            elif before is None:
                screen.key(shown)
            else:
                keys.append(screen.timed_key(window, shown, lambda px: px != before))
                echoed(chr(ord("b") + len(echo) % 25))
        text = wait_for(lambda: find(app, lambda name: "一文字あたりの速さ" in name)).name
        off.append(int(re.search(r"速さ:(\d+)ミリ秒", text)[1]) - (last - sent) / 1e6 / 26)
        late.append((boxed - last) / 1e6)
        screen.focus(box)
        screen.key("Return")
        wait_for(lambda: gone(box))
    stop(game, bare)
    for what, times, p, most in (
        ("key → next letter", keys, 50, 1.3),
        ("key → next letter", keys, 99, 1.5),
        ("wrong key → red window", reds, 99, 2),
    ):
        game_ms, bare_ms = pct(times, p), pct(echo, p)
        row(
            f"{what} on screen, p{p} of {len(times)} (ms; bare: the key echoed)",
            f"{game_ms:.2f}",
            bare=f"{bare_ms:.2f}",
            against=f"{game_ms / bare_ms:.2f} × bare",
            target=f"≤ {most} × bare",
            met=game_ms <= most * bare_ms,
        )
    worst = max(off, key=abs)
    row(
        f"reported − true ms per letter, median / worst of {GAMES} games",
        f"{statistics.median(off):+.2f} / {worst:+.2f}",
        target="worst within ±1",
        met=abs(worst) < 1,
    )
    row(
        "last key → result box on screen, median / worst (ms)",
        f"{statistics.median(late):.1f} / {max(late):.1f}",
    )


def machine():
    cpu = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read())[1]
    qt = out("dpkg-query", "-W", "-f=${Version}", "libqt6core6")
    commit = out("git", "-C", HERE, "describe", "--always", "--dirty")
    return (
        f"{os.cpu_count()} × {cpu}, Linux {os.uname().release}, Qt {qt}; load average {load()} "
        f"at the start; {datetime.now(timezone.utc):%Y-%m-%d %H:%M} UTC; commit {commit}"
    )


def load():
    return " ".join(f"{v:.2f}" for v in os.getloadavg())


def main():
    header = [
        "# Bench results",
        "",
        f"`./dev.sh bench` on {machine()}.",
        "",
        "| what | game | floor | bare | game against baseline | target | verdict |",
        "|---|---|---|---|---|---|---|",
    ]

    def run(part, *args):
        if part in PARTS:
            log(part, *args[1:], load())
            globals()[f"{part}_part"](*args)

    with Desktop() as desktop:
        run("start", desktop, "sound server")
        run("rest", desktop)
        desktop.stop_sound()
        desktop.start_sound()
        run("cues", desktop)
        run("keys", desktop)
    if "start" in PARTS:
        with Desktop() as desktop:
            desktop.stop_sound()
            run("start", desktop, "no sound server")
    text = "\n".join(header + rows + ["", f"Load average at the end: {load()}."]) + "\n"
    print(text)
    if not sys.argv[2:]:
        with open(os.path.join(HERE, "results.md"), "w") as f:
            f.write(text)


main()
