# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# The real program on a private Wayland desktop, played as a player would: a headless sway with
# XWayland, keys typed through a virtual keyboard, the window read through the accessibility
# tree, the cues recorded from the sound server. It stops at the first failed assert. Run it as
# a user (sway refuses root) on a session bus of their own, which starts the accessibility bus
# when asked, with a library that hides Qt's Wayland plugins from a program that preloads it:
#   dbus-run-session /usr/bin/python3 e2e.py <that library> <the mojitan program>
import atexit, inspect, os, pathlib, re, shutil, subprocess, sys, tempfile, time

import pyatspi

WITHOUT_WAYLAND, PROGRAM = sys.argv[1:]
HOME = tempfile.TemporaryDirectory()  # for the desktop's files, settings and sockets
os.environ.update(
    HOME=HOME.name,
    XDG_RUNTIME_DIR=HOME.name,
    XDG_CACHE_HOME=HOME.name,
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
    XDG_SESSION_TYPE="wayland",
    QT_IM_MODULE="ibus",  # as GNOME sets it: the game must still talk to no input method
)
# What the session bus starts on demand (the accessibility bus, the settings portal) lives in
# this home too.
subprocess.run(["dbus-update-activation-environment", "--all"])
RECORDING = pathlib.Path(HOME.name, "sound")  # what the sound server plays: 44100 bytes a second


# Starts the sound server (-n: with only the modules named here, one null sink) and, once audio
# flows steadily, a recorder of what the sink plays: a fresh sink runs ahead of the clock for a
# moment. Audio goes over the socket: PulseAudio 16 can abort on its shared-memory path when a
# client leaves with blocks still queued. Without a small latency parec holds audio back for
# seconds.
def start_sound():
    server = "pulseaudio -D -n --disable-shm -L module-native-protocol-unix -L module-null-sink"
    subprocess.run(server.split())
    recorder = "parec --latency-msec=10 --channels=1 --format=u8".split()
    subprocess.Popen(recorder, stdout=RECORDING.open("wb"))
    until(lambda: RECORDING.stat().st_size > 44100)


# The recorder ends with the server.
def stop_sound():
    subprocess.run("pactl exit".split())


# The keyboard goes to the window that came last. Each wtype is a keyboard of its own, whose
# keymap holds only the keys it names, and sway hands it on as libxkbcommon writes it: since 1.12
# without the modifier rules no key of it uses. XWayland's compiler makes nothing of a keymap
# without a single one, so XWayland puts its default one in its place, where the key typed is
# Escape. Shift_L, named too, keeps one; wtype only lets go of it, which sway passes on to no one.
def press(key):
    subprocess.run(["wtype", "-k", key, "-p", "Shift_L"])


# Polls for ten seconds at least until `probe` gives a true value, and returns it. If none
# comes, says what it waited for (the line that asked) and the last error it saw.
def until(probe):
    error = None
    for _ in range(500):
        try:
            value = probe()
            if value:
                return value
        except AssertionError:  # what a probe asserts will not change by waiting
            raise
        except Exception as seen:  # not there yet, or just gone
            error = seen
        time.sleep(0.02)
    raise TimeoutError(f"waited for: {inspect.getsource(probe).strip()}; last error: {error!r}")


# The names of an accessible and all within it, run together.
def text(node):
    return node.name + "".join(text(child) for child in node)


# Does `action`, then waits until sound has been heard for `seconds` in all: longer than the
# tail of a sound before can be. Silence is 128 in the recording's unsigned bytes.
def heard(action, seconds=0.01):
    start = RECORDING.stat().st_size
    action()

    def hundredths_loud():  # of a second: 441 samples
        recorded = RECORDING.read_bytes()[start:]
        return sum(max(recorded[i : i + 441]) > 130 for i in range(0, len(recorded), 441))

    return until(lambda: hundredths_loud() >= seconds * 100)


# One run of the program, with a settings folder of its own unless given one (XDG_CONFIG_HOME).
class Game:
    typed = ""  # the letters typed so far

    def __init__(self, program=PROGRAM, **environment):
        self.config = environment.setdefault("XDG_CONFIG_HOME", tempfile.mkdtemp())
        self.process = subprocess.Popen(
            [program], stderr=subprocess.PIPE, text=True, env=os.environ | environment
        )
        self.app = until(self.accessible)
        self.window = until(lambda: self.app[0])  # the game's own, with its controls

    # The game's entry in the accessibility tree.
    def accessible(self):
        assert self.process.poll() is None, f"the game ended: {self.complaints()}"
        apps = pyatspi.Registry.getDesktop(0)
        return next(app for app in apps if app and app.get_process_id() == self.process.pid)

    # Ends the run if it still goes on; returns what standard error complained of, a line each,
    # sorted: <this> of the game's own "mojitan: <this>: <reason>" or "mojitan: <this> (<reason>)",
    # any other line whole. Sway 1.10 and later hand the window a keyboard without a keymap
    # whenever one of the test's keyboards goes away again, and Qt says so: that is the test's.
    def complaints(self):
        self.process.kill()
        return sorted(
            re.sub(r"^mojitan: (.*?)(: | \().*", r"\1", line.strip())
            for line in self.process.stderr
            if line != "qt.qpa.wayland: unknown keymap format: 0\n"
        )

    # How the window came to sway: "xdg_shell" (native) or "xwayland", asked as sway's own
    # criteria ask. Sway knows a window once it has shown its first frame.
    def shell(self):
        for shell in "xdg_shell", "xwayland":
            window = f'[pid={self.process.pid} shell="{shell}"]'
            if subprocess.run(["swaymsg", window, "nop"], capture_output=True).returncode == 0:
                return shell

    def shown_letter(self):
        return self.window[0].name

    # Types each letter as it shows: one not typed yet, for a game shows each letter once.
    def play_letters(self, count):
        for _ in range(count):
            until(lambda: self.shown_letter() not in self.typed)
            self.typed += self.shown_letter()
            press(self.typed[-1])

    def message_box(self):
        return until(lambda: text(self.app[1]))

    def click(self, caption):
        button = next(child for child in self.window if child.name == caption)
        button.queryAction().doAction(0)


# robustness: the sound server stops in the middle of a game and starts again | plays on silently,
# with at most one line on standard error; sound again once the server is back | the game
def a_game_a_record_and_clearing_it():
    game = Game()
    assert until(game.shell) == "xdg_shell"
    press("Return")
    until(game.shown_letter)
    assert heard(lambda: press("1"))  # a wrong key
    # With the sound thread running, the process still answers to its name (pgrep, killall).
    assert pathlib.Path(f"/proc/{game.process.pid}/comm").read_text() == "mojitan\n"
    assert "ibus" not in pathlib.Path(f"/proc/{game.process.pid}/maps").read_text()
    stop_sound()
    game.play_letters(7)
    start_sound()
    assert heard(lambda: game.play_letters(1))
    game.play_letters(18)
    ms = re.findall(r"\d+", game.message_box())[1]  # the result's ms per letter
    # A record's fanfare (1.1 s), played once the record is saved: not a click (50 ms) or a
    # buzz (250 ms).
    assert heard(lambda: press("Return"), seconds=0.5)
    settings = pathlib.Path(game.config, "モジタン/モジタン.conf")
    until(lambda: f"\n%U901F%U3055={ms}\n" in settings.read_text())  # 速さ, as QSettings writes it
    complaints = game.complaints()
    assert complaints in ([], ["no sound"]), complaints

    game = Game(XDG_CONFIG_HOME=game.config)  # the next start, which shows the record
    for answer, best_time in ("Escape", ms + "ms"), ("Return", "1000ms"):  # No, then Yes
        game.click("スコア消去")
        assert "ハイスコアを初期化しますか？" in game.message_box()
        press(answer)
        until(lambda: len(game.app) == 1)  # the box gone
        until(lambda: best_time in text(game.window))
    game.click("終了")
    assert game.process.wait(5) == 0, game.complaints()
    complaints = game.complaints()
    assert complaints == [], complaints


# robustness: the program copied to a folder without its "sound" folder | silent; plays a whole
# game; one line on standard error per cue file | the game
# robustness: no sound server at all | starts as fast as with one and plays silently; one line on
# standard error | the game
# robustness: a settings folder that cannot be made | shows and counts the record; one line on
# standard error | the record, in memory
# robustness: Qt's Wayland platform plugin missing on a Wayland desktop | starts through XWayland,
# no word from Qt | the game
def a_game_with_nothing_to_lean_on():
    folder = tempfile.mkdtemp()
    started = time.monotonic()
    program = shutil.copy(PROGRAM, folder)
    nothing = dict(
        XDG_CONFIG_HOME="/dev/null", PULSE_SERVER="unix:/nonexistent", LD_PRELOAD=WITHOUT_WAYLAND
    )
    game = Game(program, **nothing)
    assert time.monotonic() - started < 3
    assert until(game.shell) == "xwayland"
    press("Return")
    game.play_letters(26)
    ms = re.findall(r"\d+", game.message_box())[1]
    press("Return")  # the best time is saved once the result box is closed: a record here
    until(lambda: f"{ms}ms" in text(game.window))  # shown once the game has tried to save it
    cue_files = [f"cannot play {folder}/sound/{cue}.wav" for cue in "key win wrong".split()]
    cannot_save = "cannot save the best time in /dev/null/モジタン/モジタン.conf"
    complaints = game.complaints()
    assert complaints == sorted(cue_files + [cannot_save, "no sound"]), complaints


# Starts a headless sway, XWayland included, and tells every program started after it what
# sway tells its own: where the compositor, the X server and sway's socket are.
def start_sway():
    sway_env = pathlib.Path(HOME.name, "sway.env")
    config = pathlib.Path(HOME.name, "sway.conf")
    config.write_text(f"exec printenv WAYLAND_DISPLAY SWAYSOCK DISPLAY > {sway_env}\n")
    headless = dict(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
    atexit.register(subprocess.Popen(["sway", "-c", config], env=os.environ | headless).terminate)
    names = ["WAYLAND_DISPLAY", "SWAYSOCK", "DISPLAY"]  # XWayland's last: it may fail to start
    told = until(lambda: sway_env.read_text().split())
    assert len(told) == 3, f"sway told no more than {dict(zip(names, told))}"
    os.environ.update(zip(names, told))
    # The seat's keyboard for as long as the test runs: the first key of a keyboard that comes
    # and goes with each key can be lost.
    atexit.register(subprocess.Popen(["wtype", "-s", "600000", ""]).terminate)


start_sway()
start_sound()
atexit.register(stop_sound)
a_game_a_record_and_clearing_it()
a_game_with_nothing_to_lean_on()
