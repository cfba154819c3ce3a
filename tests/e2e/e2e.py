# The real program on a private desktop, played as a player would: keys through XTest, the
# window read through the accessibility tree and from the screen, the cues recorded from the
# sound server. Run: /usr/bin/python3 e2e.py <the mojitan program>
import contextlib, os, pathlib, re, shutil, subprocess, sys, tempfile, time, unittest
from desktop import RATE, Desktop

PROGRAM, DESK = sys.argv.pop(1), Desktop()
tearDownModule = DESK.__exit__
import pyatspi  # only now: it looks for the accessibility bus of the private desktop
from gi.repository import GLib
from Xlib import X, XK, display, protocol
from Xlib.ext import xtest

XD = display.Display(DESK.env['DISPLAY'])
MOJI, SCORE, END, CLEAR = 0, 2, 5, 8  # lblMoji, lblScore, 終了 and スコア消去 among the window's children
RESULT = re.compile(r'あなたの正解率は(\d+)%です。\n一文字あたりの速さ:(\d+)ミリ秒\n１時間で\d+文字、打てます。\n原稿用紙にして、\d+枚です。')


def tree(node, depth=0):
    return '  ' * depth + f'{node.getRoleName()} {node.name}\n' + ''.join(tree(c, depth + 1) for c in node)


# One run of the program for `test`, with a settings folder of its own unless given one.
class Game:
    def __init__(self, test, program=PROGRAM, config=None, **env):
        self.dir, self.typed = tempfile.mkdtemp(dir=DESK.dir.name), ''
        self.config, self.err = config or self.dir, pathlib.Path(self.dir, 'stderr')
        self.proc = subprocess.Popen([program], stderr=self.err.open('w'), env=dict(DESK.env, XDG_CONFIG_HOME=self.config, **env))
        test.addCleanup(self.proc.kill)
        self.window = self.poll(lambda: self.windows() and self.windows()[0], 'window')

    def windows(self):
        return next((list(a) for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == self.proc.pid), [])

    def poll(self, probe, what):
        for _ in range(500):  # ten seconds at least
            with contextlib.suppress(GLib.GError):  # from a program or window that has just gone
                if value := probe():
                    return value
            time.sleep(0.02)
        raise AssertionError(f'no {what}\n--- stderr:\n{self.err.read_text()}--- windows:\n{"".join(map(tree, self.windows()))}')

    # The window on top, which a window manager would give the keyboard: the desktop is ours.
    def top(self):
        return [w for w in XD.screen().root.query_tree().children if w.get_attributes().map_state == X.IsViewable][-1]

    def key(self, name):
        self.top().set_input_focus(X.RevertToParent, X.CurrentTime)
        for event in X.KeyPress, X.KeyRelease:
            xtest.fake_input(XD, event, XD.keysym_to_keycode(XK.string_to_keysym(name)))
        XD.sync()

    def box(self):
        return self.poll(lambda: len(w := self.windows()) > 1 and tree(w[1]), 'message box')

    def letter(self):
        return self.poll(lambda: (m := self.window[MOJI].name) != self.typed[-1:] and m, 'new letter')

    # Types the next `letters` letters as each shows; after the 26th, returns the result box.
    def play(self, letters):
        for _ in range(letters):
            self.typed += self.letter()
            self.key(self.typed[-1])
        return len(self.typed) == 26 and self.box()

    # The share of the window's pixels that are pure red.
    def red(self):
        data = XD.screen().root.get_image(*self.window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS), X.ZPixmap, 0xffffffff).data
        return sum(data[i:i + 3] == b'\0\0\xff' for i in range(0, len(data), 4)) / (len(data) // 4)

    # Does `action`; returns the seconds of the longest sound after it, once that has died away.
    def heard(self, action):
        rec, since = DESK.recorder, DESK.recorder.position()
        action()
        return self.poll(lambda: (s := rec.sounds(since)) and s[-1][0] + s[-1][1] + RATE // 5 < rec.position()
                         and max(n for _, n in s) / RATE, 'sound')


class E2E(unittest.TestCase):
    def test_a_game_a_record_and_clearing_it(self):
        first = Game(self)
        self.assertEqual([first.window.name] + [c.name for c in first.window], ['モジタン', '', 'ハイスコア', '1000ms',
                         'Enterで開始します。', 'スタート', '終了', '成績', '', 'スコア消去'])
        first.key('Return')
        first.letter()
        self.assertAlmostEqual(first.heard(lambda: first.key('1')), 0.25, delta=0.05)
        first.poll(lambda: first.red() > 0.5, 'red window')
        first.play(1)
        first.poll(lambda: first.red() == 0, 'window back from red')
        accuracy, ms = RESULT.search(first.play(25)).groups()
        self.assertEqual(accuracy, '96')
        self.assertAlmostEqual(first.heard(lambda: first.key('Return')), 1.1, delta=0.15)  # the record's fanfare
        self.assertEqual(re.findall(r'=(\d+)', pathlib.Path(first.config, 'モジタン/モジタン.conf').read_text()), [ms])
        # What a window manager sends when the close box is clicked.
        top, (protocols, delete) = first.top(), map(XD.intern_atom, ('WM_PROTOCOLS', 'WM_DELETE_WINDOW'))
        top.send_event(protocol.event.ClientMessage(window=top, client_type=protocols, data=(32, [delete, 0, 0, 0, 0])))
        XD.sync()
        self.assertEqual(first.proc.wait(5), 0)

        second = Game(self, config=first.config)
        self.assertEqual(second.window[SCORE].name, ms + 'ms')
        for key, shown in ('Escape', ms + 'ms'), ('Return', '1000ms'):
            second.window[CLEAR].queryAction().doAction(0)
            self.assertIn('ハイスコアを初期化しますか？', second.box())
            second.key(key)
            second.poll(lambda: len(second.windows()) == 1 and second.window[SCORE].name == shown, shown)
        second.window[END].queryAction().doAction(0)
        self.assertEqual(second.proc.wait(5), 0)
        self.assertEqual(first.err.read_text() + second.err.read_text(), '')

    # robustness: the program copied to a folder without its "sound" folder | silent; plays a whole game; one line on standard error per cue file | the game
    # robustness: no sound server at all | starts as fast as with one and plays silently; one line on standard error | the game
    # robustness: the sound server stops in the middle of a game and starts again | plays on silently, with at most one line on standard error; sound again once the server is back | the game
    def test_sound_faults(self):
        folder = tempfile.mkdtemp(dir=DESK.dir.name)
        missing = ''.join(f'mojitan: cannot play {folder}/sound/{cue}.wav: .*\n' for cue in ('key', 'win', 'wrong'))

        def outage(game):  # the server is away for six letters; the next key is heard again
            DESK.stop_sound()
            game.play(6)
            DESK.start_sound()
            self.assertGreater(game.heard(lambda: game.play(1)), 0)
        for kw, stderr, midgame in ((dict(program=shutil.copy(os.path.realpath(PROGRAM), folder)), missing, bool),
                                    (dict(PULSE_SERVER='unix:/nonexistent'), 'mojitan: no sound: .*\n', bool),
                                    ({}, '(mojitan: no sound: .*\n)?', outage)):
            with self.subTest(stderr):
                began, game = time.monotonic(), Game(self, **kw)
                self.assertLess(time.monotonic() - began, 3)
                game.key('Return')
                game.play(10)
                midgame(game)
                self.assertRegex(game.play(26 - len(game.typed)), RESULT)
                self.assertRegex(''.join(sorted(game.err.read_text().splitlines(True))), f'^{stderr}$')


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2, warnings='ignore')
