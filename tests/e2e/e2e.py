# The real program on a private desktop, played as a player would: keys typed through XTest,
# the window read through the accessibility tree and from the screen, the cues recorded from the
# sound server. It stops at the first failed assert. Run it on an X server and a session bus of
# its own, which starts the accessibility bus when asked:
#   xvfb-run -a dbus-run-session /usr/bin/python3 e2e.py <the mojitan program>
import atexit, os, pathlib, re, shutil, subprocess, sys, tempfile, time

import pyatspi
from Xlib import X, display, protocol

PROGRAM = sys.argv[1]
# A home of its own for the private desktop's files, settings and sockets, which goes with it.
HOME = tempfile.TemporaryDirectory()
os.environ.update(HOME=HOME.name, TMPDIR=HOME.name, XDG_RUNTIME_DIR=HOME.name)
os.environ.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
os.environ.update(XDG_SESSION_TYPE="wayland")  # with no compositor to reach: the game must pick X
SCREEN = display.Display()
RATE = 44100  # the recording's samples a second, in one channel of bytes: silence is 128
RECORDING = pathlib.Path.home() / "sound"  # what the sound server played since it last started


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
    until(lambda: len(RECORDING.read_bytes()) > RATE)


# The recorder ends with the server.
def stop_sound():
    subprocess.run("pactl exit".split())


# Every window opens at the top left. Without a window manager the keyboard goes to the window
# under the pointer, unless a message box takes it.
def press(key):
    subprocess.run(f"xdotool mousemove 50 30 key {key}".split())


# A pixel of the window's background, left of the letter, is pure red: blue, green, red, 255.
def is_red():
    pixel = SCREEN.screen().root.get_image(2, 2, 1, 1, X.ZPixmap, 0xFFFFFFFF)
    return pixel.data.hex() == "0000ffff"


# What a window manager sends to the window under the pointer when its close box is clicked.
def click_close_box():
    window = SCREEN.screen().root.query_pointer().child
    close = [SCREEN.intern_atom("WM_DELETE_WINDOW"), 0, 0, 0, 0]
    protocols = SCREEN.intern_atom("WM_PROTOCOLS")
    window.send_event(
        protocol.event.ClientMessage(window=window, client_type=protocols, data=(32, close))
    )
    SCREEN.sync()


# Polls for ten seconds at least until `probe` gives a true value, and returns it.
def until(probe):
    for _ in range(500):
        try:
            value = probe()
            if value:
                return value
        except Exception:  # not there yet, or just gone
            pass
        time.sleep(0.02)
    raise TimeoutError


# The names of an accessible and all within it, run together.
def text(node):
    return node.name + "".join(text(child) for child in node)


# The seconds of the longest sound recorded after sample `start`, once the last has died away;
# gaps under a fiftieth of a second are part of a sound.
def longest_sound(start):
    samples = RECORDING.read_bytes()[start:]
    loudness = "".join("#" if abs(sample - 128) > 2 else " " for sample in samples)
    if loudness.endswith(" " * (RATE // 5)):
        sounds = loudness.split(" " * (RATE // 50))
        return max(len(sound.strip()) for sound in sounds) / RATE


# Does `action`; returns the seconds of the longest sound after it, once that has died away.
def heard(action):
    start = len(RECORDING.read_bytes())
    action()
    return until(lambda: longest_sound(start))


# One run of the program, with a settings folder of its own unless given one.
class Game:
    typed = ""  # the letters typed so far

    def __init__(self, program=PROGRAM, config=None, **environment):
        self.config = config or tempfile.mkdtemp()
        environment = dict(os.environ, XDG_CONFIG_HOME=self.config, **environment)
        self.process = subprocess.Popen(
            [program], stderr=subprocess.PIPE, text=True, env=environment
        )
        apps = pyatspi.Registry.getDesktop(0)
        self.app = until(
            lambda: next(app for app in apps if app and app.get_process_id() == self.process.pid)
        )
        self.window = until(lambda: self.app[0])

    # Ends the run if it still goes on; returns what standard error complained of, a line each,
    # sorted: <this> of the game's own "mojitan: <this>: <reason>" or "mojitan: <this> (<reason>)",
    # any other line whole.
    def complaints(self):
        self.process.kill()
        return sorted(
            re.sub(r"^mojitan: (.*?)(: | \().*", r"\1", line.strip())
            for line in self.process.stderr
        )

    def shown_letter(self):
        return self.window[0].name

    # Types each letter as it shows: one not typed yet, for a game shows each letter once.
    def play_letters(self, count):
        for _ in range(count):
            until(lambda: self.shown_letter() not in self.typed)
            self.typed += self.shown_letter()
            press(self.typed[-1])

    # A game from Enter to the result box, answered: the best time is saved once it is closed.
    def play_whole_game(self):
        press("Return")
        self.play_letters(26)
        self.message_box()
        press("Return")
        until(lambda: len(self.app) == 1)

    def message_box(self):
        return until(lambda: text(self.app[1]))

    def click(self, caption):
        button = next(child for child in self.window if child.name == caption)
        button.queryAction().doAction(0)


# robustness: the sound server stops in the middle of a game and starts again | plays on silently,
# with at most one line on standard error; sound again once the server is back | the game
def a_game_a_record_and_clearing_it():
    game = Game()
    for caption in "モジタン ハイスコア 1000ms Enterで開始します。 スタート 終了 成績 スコア消去".split():
        assert caption in text(game.window)
    press("Return")
    until(game.shown_letter)
    assert 0.2 < heard(lambda: press("1")) < 0.3  # a wrong key's cue
    # With the sound thread running, the process still answers to its name (pgrep, killall).
    assert pathlib.Path(f"/proc/{game.process.pid}/comm").read_text() == "mojitan\n"
    until(is_red)
    game.play_letters(1)
    until(lambda: not is_red())
    stop_sound()
    game.play_letters(6)
    start_sound()
    assert heard(lambda: game.play_letters(1))
    game.play_letters(18)
    accuracy, ms = re.findall(r"\d+", game.message_box())[:2]  # the result's first two numbers
    assert accuracy == "96"  # 26 right keys of 27, rounded down
    assert 0.95 < heard(lambda: press("Return")) < 1.25  # a record's fanfare
    settings = pathlib.Path(game.config, "モジタン/モジタン.conf")
    assert f"\n%U901F%U3055={ms}\n" in settings.read_text()  # 速さ, as QSettings writes it
    click_close_box()
    assert game.process.wait(5) == 0
    assert game.complaints() in ([], ["no sound"])

    game = Game(config=game.config)  # the next start, which shows the record
    for answer, best_time in ("Escape", ms + "ms"), ("Return", "1000ms"):  # No, then Yes
        game.click("スコア消去")
        assert "ハイスコアを初期化しますか？" in game.message_box()
        press(answer)
        until(lambda: len(game.app) == 1)
        assert best_time in text(game.window)
    game.click("終了")
    assert game.process.wait(5) == 0
    assert game.complaints() == []


# robustness: the program copied to a folder without its "sound" folder | silent; plays a whole
# game; one line on standard error per cue file | the game
# robustness: no sound server at all | starts as fast as with one and plays silently; one line on
# standard error | the game
def games_without_sound():
    folder = tempfile.mkdtemp()
    copied = Game(program=shutil.copy(PROGRAM, folder))
    copied.play_whole_game()
    cue_files = [f"cannot play {folder}/sound/{cue}.wav" for cue in "key win wrong".split()]
    assert copied.complaints() == cue_files
    started = time.monotonic()
    serverless = Game(config="/dev/null", PULSE_SERVER="unix:/nonexistent")
    assert time.monotonic() - started < 3
    serverless.play_whole_game()  # a record, which it cannot save
    cannot_save = "cannot save the best time in /dev/null/モジタン/モジタン.conf"
    assert serverless.complaints() == [cannot_save, "no sound"]


start_sound()
atexit.register(stop_sound)
a_game_a_record_and_clearing_it()
games_without_sound()
