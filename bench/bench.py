#!/usr/bin/python3

# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Measures the game against the two windows built beside it (windows.cpp) and prints the
# figures as one markdown table. Run it on an X server and a session bus of its own, which
# starts the accessibility bus when asked; it starts its own sound server:
#   xvfb-run -a dbus-run-session /usr/bin/python3 bench.py BUILD_DIR [cues start rest keys]
# With no part named it runs them all and writes the table to results.md beside this file
# too. It reports; it never fails on a figure.
import array, atexit, os, pathlib, random, re, select, statistics, subprocess, sys, tempfile
import time, wave
from datetime import datetime, timezone

import pyatspi
from Xlib import X, XK, display, error
from Xlib.ext import damage, xtest

HERE = pathlib.Path(__file__).parent
BUILD = sys.argv[1]
PARTS = sys.argv[2:] or ["cues", "start", "rest", "keys"]
GAME = f"{BUILD}/bin/mojitan"
FLOOR = f"{BUILD}/bench/mojitan-floor"
BARE = f"{BUILD}/bench/mojitan-bare"
SOUND = f"{BUILD}/bin/sound"
ROUNDS = 21  # start-ups of each program, taken in turns
GAMES = 16
REST_S = 10
SETTLE_S = 0.02  # between a letter shown and the key that answers it
RATE = 44100  # the recording's samples a second, as the cue files'
LOUD = 300  # a recorded sample louder than this, a 100th of full scale, is sound
RED = b"\x00\x00\xff"  # a pixel as the X server hands it over: blue, green, red, pad
# The desktop's files, settings and sockets. Every program stays on this X server, even when
# started from a Wayland desktop.
HOME = tempfile.TemporaryDirectory()
os.environ.update(
    HOME=HOME.name, TMPDIR=HOME.name, XDG_RUNTIME_DIR=HOME.name, QT_QPA_PLATFORM="xcb"
)
RECORDING = pathlib.Path(HOME.name, "sound")  # what the sound server plays, 16-bit mono
# The X server: new windows and their first frame, keys, and the pixels where the game shows
# its letter. A window can be gone before it is watched: that error is no error here.
SCREEN = display.Display()
SCREEN.damage_query_version()
SCREEN.set_error_handler(lambda *_: None)
SCREEN.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
rows = []


def out(*argv):
    return subprocess.run(argv, capture_output=True, text=True).stdout.strip()


def pct(values, p):
    return sorted(values)[min(len(values) - 1, int(p / 100 * len(values)))]


def row(what, game, floor="", bare="", against="", target="for information", met=None):
    verdict = ""
    if met is not None:
        verdict = "met" if met else "**missed**"
    rows.append(f"| {what} | {game} | {floor} | {bare} | {against} | {target} | {verdict} |")


def stop(*procs):
    for proc in procs:
        proc.terminate()
        proc.wait()


# Polls `probe` until it gives a true value, and returns it.
def wait_for(probe, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = probe()
        if found:
            return found
        time.sleep(0.0005)
    raise TimeoutError("waited in vain")


# A number from a /proc status file, such as VmRSS or voluntary_ctxt_switches.
def status(path, name):
    return int(re.search(rf"{name}:\s*(\d+)", pathlib.Path(path).read_text())[1])


# Starts the sound server and, once audio flows steadily, a recorder of what its sink plays:
# a fresh sink runs ahead of the clock for a moment. Returns the recorder. The server has only
# the modules named here (-n): one null sink, which never rewinds, so the recorder gets each
# sample once, and the suspending of an idle sink that desktops load. Audio goes over the
# socket: PulseAudio 16 can abort on its shared-memory path when a client leaves with blocks
# still queued. Without a small latency parec holds audio back for seconds.
def start_sound():
    server = "pulseaudio -D -n --disable-shm -L module-native-protocol-unix".split()
    modules = ["-L", "module-null-sink norewinds=1", "-L", "module-suspend-on-idle timeout=1"]
    subprocess.run(server + modules)
    parec = f"parec --latency-msec=10 --channels=1 --format=s16le --rate={RATE}".split()
    recorder = subprocess.Popen(parec, stdout=RECORDING.open("wb"))
    wait_for(lambda: recorded() > RATE // 2)
    return recorder


# The recorder ends with the server.
def stop_sound():
    out("pactl", "exit")


def recorded():
    return RECORDING.stat().st_size // 2


def samples(since):
    with RECORDING.open("rb") as file:
        file.seek(2 * since)
        data = file.read()
    whole = len(data) // 2 * 2  # parec may be half way through a sample
    return array.array("h", data[:whole])


# Samples from the first loud one to the last, 0 in silence.
def loud_length(sound):
    loud = [i for i, v in enumerate(sound) if abs(v) > LOUD]
    if not loud:
        return 0
    return loud[-1] - loud[0] + 1


def cue_file(name):
    with wave.open(f"{SOUND}/{name}.wav") as file:
        return array.array("h", file.readframes(file.getnframes()))


def drain():
    SCREEN.sync()
    while SCREEN.pending_events():
        SCREEN.next_event()


# (monotonic ns, window) of the first frame of a top-level window created from now on.
# Damage is asked for on each as it is created, before it can be mapped, so its first damage
# is its first frame.
def first_frame():
    new = {}  # id: window
    end = time.monotonic() + 10
    while time.monotonic() < end:
        select.select([SCREEN], [], [], 0.05)
        while SCREEN.pending_events():
            event = SCREEN.next_event()
            if event.type == X.CreateNotify:
                new[event.window.id] = event.window
                event.window.damage_create(damage.DamageReportNonEmpty)
                SCREEN.flush()
            elif event.type == SCREEN.extension_event.DamageNotify and event.drawable.id in new:
                return time.monotonic_ns(), new[event.drawable.id]
    raise TimeoutError("no new window drew")


# Returns the process, the milliseconds from exec to its first frame, and its window.
# Programs start with Qt's accessibility off, as on a desktop with no screen reader, unless
# `accessible`.
def launch(program, accessible=False):
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1") if accessible else None
    drain()
    start = time.monotonic_ns()
    proc = subprocess.Popen([program], env=env, stderr=subprocess.DEVNULL)
    shown, window = first_frame()
    return proc, (shown - start) / 1e6, window


def key(name):
    code = SCREEN.keysym_to_keycode(XK.string_to_keysym(name))
    xtest.fake_input(SCREEN, X.KeyPress, code)
    xtest.fake_input(SCREEN, X.KeyRelease, code)
    SCREEN.flush()
    return time.monotonic_ns()


def focus(window):
    window.set_input_focus(X.RevertToPointerRoot, X.CurrentTime)
    SCREEN.sync()


# Where the game shows its letter, left of the results frame that covers its right edge
# during a game.
def letter_area(window):
    return window.get_image(0, 8, 48, 49, X.ZPixmap, 0xFFFFFFFF).data


# Milliseconds from sending the key until the letter's area is `done`, read just after the
# image that was: at most one image late.
def timed_key(window, name, done):
    start = key(name)
    while not done(letter_area(window)):
        time.sleep(0.0002)
    return (time.monotonic_ns() - start) / 1e6


# (CPU ms/s, voluntary context switches/s) of each whole process, summed over its threads.
# CPU comes from schedstat, the count utime and stime are cut from: they tick in 10 ms steps,
# too coarse for a fraction of a millisecond per second.
def rates(procs, seconds):
    def counters(proc):
        tasks = list(pathlib.Path(f"/proc/{proc.pid}/task").iterdir())
        cpu_ns = sum(int((task / "schedstat").read_text().split()[0]) for task in tasks)
        wakes = sum(status(task / "status", "voluntary_ctxt_switches") for task in tasks)
        return cpu_ns / 1e6, wakes

    before = [counters(proc) for proc in procs]
    time.sleep(seconds)
    after = [counters(proc) for proc in procs]
    return [((a[0] - b[0]) / seconds, (a[1] - b[1]) / seconds) for a, b in zip(after, before)]


def start_part(server):
    programs = (GAME, FLOOR, BARE)
    ms = {program: [] for program in programs}
    mib = {program: [] for program in programs}
    for _ in range(ROUNDS):
        for program in programs:
            proc, took, _ = launch(program)
            time.sleep(0.5)  # the game reads and uploads its cues right after the first frame
            ms[program].append(took)
            mib[program].append(status(f"/proc/{proc.pid}/status", "VmRSS") / 1024)
            stop(proc)
    for what, figures, most in (
        ("start-up, exec → first frame (ms", ms, 1.05),
        ("resident memory, window shown (MiB", mib, 1.15),
    ):
        game, floor, bare = (statistics.median(figures[program]) for program in programs)
        row(
            f"{what}, median of {ROUNDS} in turns), {server}",
            f"{game:.1f}",
            f"{floor:.1f}",
            f"{bare:.1f}",
            f"{game / floor:.2f} × floor",
            f"≤ {most} × floor",
            game <= most * floor,
        )


def rest_part(recorder):
    # The recorder keeps the sink busy: stopped, an idle sink suspends within a second.
    stop(recorder)
    game, _, window = launch(GAME)
    floor, _, _ = launch(FLOOR)

    # The game against the idle floor window over the same seconds; wake-ups are voluntary
    # context switches.
    def judge(what):
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
    streams = len(out("pactl", "list", "sink-inputs", "short").splitlines())
    state = out("pactl", "list", "sinks", "short").split()[-1]
    connected = re.search(r"\smojitan$", out("pactl", "list", "clients", "short"), re.M)
    row(
        "at rest: the sound server",
        f'game connected: {"yes" if connected else "no"}; {streams} streams; sink {state}',
        target="connected, no stream, sink suspended",
        met=bool(connected) and streams == 0 and state == "SUSPENDED",
    )
    focus(window)
    key("Return")
    judge("a game started, waiting for its first key")
    stop(game, floor)


# Plays each cue alone through the probe, which says when it called play(), and finds it in
# the recording. The server is fresh, so the three samples in its cache are the probe's.
def cues_part():
    names = ["key", "wrong", "win"]  # as the probe numbers them
    lengths = {name: loud_length(cue_file(name)) for name in names}
    argv = [f"{BUILD}/bench/mojitan-cueprobe", SOUND]
    probe = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    wait_for(lambda: len(out("pactl", "list", "samples", "short").splitlines()) == 3)
    delays = []
    heard = {name: [] for name in names}
    for number in "01" * 9 + "22":
        name = names[int(number)]
        since = recorded()
        probe.stdin.write(number + "\n")
        probe.stdin.flush()
        called = int(probe.stdout.readline())
        try:
            wait_for(lambda: loud_length(samples(since)), seconds=1)
            delays.append((time.monotonic_ns() - called) / 1e6)
        except TimeoutError:
            pass  # not heard at all: it shows as a length of 0 %
        # The pause varies so that cues start anywhere in the recorder's 10 ms rhythm.
        time.sleep(lengths[name] / RATE + random.uniform(0.2, 0.25))
        heard[name].append(loud_length(samples(since)) / lengths[name])
    probe.stdin.close()
    probe.wait()
    p95 = pct(delays, 95)
    row(
        f"cue play() → its first sample at the recorder, p50 / p95 of {len(delays)} (ms)",
        f"{pct(delays, 50):.1f} / {p95:.1f}",
        target="p95 ≤ 30",
        met=p95 <= 30,
    )
    worst = [min(heard[name]) for name in names]
    row(
        "cue recorded length against its file's, worst (key, wrong, win)",
        ", ".join(f"{v:.0%}" for v in worst),
        target="≥ 95 % each",
        met=min(worst) >= 0.95,
    )


# The first accessible, in any program's tree, whose name has `pattern` in it.
def named(pattern):
    desktop = pyatspi.Registry.getDesktop(0)
    return pyatspi.findDescendant(desktop, lambda node: re.search(pattern, node.name))


def gone(window):
    try:
        return window.get_attributes().map_state != X.IsViewable
    except error.BadWindow:
        return True


def keys_part():
    # Both run with accessibility on, as the game must to have its letter read.
    bare, _, bare_window = launch(BARE, accessible=True)
    bare_window.configure(x=200)  # beside the game's window, not under it
    focus(bare_window)
    key("a")  # the first key loads the font
    game, _, window = launch(GAME, accessible=True)
    keys, reds, echo, off, late = [], [], [], [], []

    # The bare window echoes a key after each timed one, so both see the machine alike.
    def echoed(letter):
        focus(bare_window)
        time.sleep(SETTLE_S)
        before = letter_area(bare_window)
        echo.append(timed_key(bare_window, letter, lambda area: area != before))
        focus(window)

    label = None  # where the game shows its letter, found once a game shows one
    for _ in range(GAMES):
        focus(window)
        sent = key("Return")
        if label is None:
            label = wait_for(lambda: named("^[a-z]$"))
        shown = ""
        for i in range(26):
            wait_for(lambda: label.name != shown)
            shown = label.name
            time.sleep(SETTLE_S)
            before = letter_area(window)
            if i % 4 == 1:
                wrong = "y" if shown == "z" else "z"
                reds.append(timed_key(window, wrong, lambda area: area[:3] == RED))
                before = None  # the right key after a wrong one repaints twice: left untimed
            if i == 25:
                drain()
                last = key(shown)
                boxed, box = first_frame()
            elif before is None:
                key(shown)
            else:
                keys.append(timed_key(window, shown, lambda area: area != before))
                echoed(chr(ord("b") + len(echo) % 25))
        result = wait_for(lambda: named("一文字あたりの速さ"))
        reported = int(re.search(r"速さ:(\d+)ミリ秒", result.name)[1])
        off.append(reported - (last - sent) / 1e6 / 26)
        late.append((boxed - last) / 1e6)
        focus(box)
        key("Return")
        wait_for(lambda: gone(box))
    stop(game, bare)
    for what, times, p, most in (
        ("key → next letter", keys, 50, 1.3),
        ("key → next letter", keys, 99, 1.5),
        ("wrong key → red window", reds, 99, 2),
    ):
        game_ms = pct(times, p)
        bare_ms = pct(echo, p)
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


def load():
    return " ".join(f"{v:.2f}" for v in os.getloadavg())


def machine():
    cpu = re.search(r"model name\s*:\s*(.*)", pathlib.Path("/proc/cpuinfo").read_text())[1]
    qt = out("dpkg-query", "-W", "-f=${Version}", "libqt6core6")
    commit = out("git", "-C", HERE, "describe", "--always", "--dirty")
    return (
        f"{os.cpu_count()} × {cpu}, Linux {os.uname().release}, Qt {qt}; load average {load()} "
        f"at the start; {datetime.now(timezone.utc):%Y-%m-%d %H:%M} UTC; commit {commit}"
    )


def run(name, part, *args):
    if name in PARTS:
        print(name, "load", load(), file=sys.stderr, flush=True)
        part(*args)


def main():
    # The table's own licence header, which the licence check must not take for this file's.
    # REUSE-IgnoreStart
    header = [
        "<!--",
        "SPDX-FileCopyrightText: 2026 the モジタン developers",
        "",
        "SPDX-License-Identifier: GPL-3.0-or-later",
        "-->",
        "",
        "# Bench results",
        "",
        f"`./dev.sh bench` on {machine()}.",
        "",
        "| what | game | floor | bare | game against baseline | target | verdict |",
        "|---|---|---|---|---|---|---|",
    ]
    # REUSE-IgnoreEnd
    recorder = start_sound()
    atexit.register(stop_sound)
    run("cues", cues_part)  # first, while the server's sample cache is empty
    run("start", start_part, "sound server")
    run("rest", rest_part, recorder)
    run("keys", keys_part)
    stop_sound()
    run("start", start_part, "no sound server")
    text = "\n".join(header + rows + ["", f"Load average at the end: {load()}."]) + "\n"
    print(text)
    if not sys.argv[2:]:
        (HERE / "results.md").write_text(text)


main()
