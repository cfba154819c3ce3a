# A private desktop for the bench: an X server, a session bus with the accessibility
# bus on it, and a PulseAudio server whose one null sink is recorded. Nothing here meets the
# user's own desktop, settings or sound; everything ends with the `Desktop` that started it.
import array, contextlib, os, pathlib, subprocess, tempfile, time

RATE = 44100


# parec on the null sink's monitor, writing raw 16-bit samples to `path`.
class Recorder:
    def __init__(self, env, path):
        self.path = path
        # Without a small latency parec holds audio back for seconds.
        self.proc = subprocess.Popen(
            [
                "parec",
                "--latency-msec=10",
                "-d",
                "cap.monitor",
                "--raw",
                "--format=s16le",
                f"--rate={RATE}",
                "--channels=1",
            ],
            env=env,
            stdout=open(path, "wb"),
            stderr=subprocess.DEVNULL,
        )
        # A fresh sink runs ahead of the clock for a moment: wait until audio flows steadily.
        while self.position() < RATE // 2:
            time.sleep(0.05)

    def position(self):
        return os.path.getsize(self.path) // 2

    def samples(self, since=0):  # parec may be half way through a sample
        return array.array(
            "h", (data := pathlib.Path(self.path).read_bytes())[2 * since : len(data) & ~1]
        )

    # (first frame, frames) of each stretch louder than `level` after frame `since`,
    # stretches less than `gap` seconds apart counting as one.
    def sounds(self, since=0, level=300, gap=0.02):
        loud = [since + i for i, v in enumerate(self.samples(since)) if abs(v) > level]
        breaks = [n for n in range(1, len(loud)) if loud[n] - loud[n - 1] >= gap * RATE]
        return [
            (loud[a], loud[b - 1] - loud[a] + 1)
            for a, b in zip([0] + breaks, breaks + [len(loud)])
            if loud
        ]


class Desktop(contextlib.AbstractContextManager):
    def __init__(self):
        self.dir = tempfile.TemporaryDirectory(prefix="mojitan-desktop-")
        root, self.procs = self.dir.name, []
        self.env = dict(
            os.environ,
            XDG_RUNTIME_DIR=root,
            HOME=root,
            PULSE_STATE_PATH=root,
            XDG_CONFIG_HOME=f"{root}/config",
            QT_QPA_PLATFORM="xcb",
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            PULSE_SERVER=f"unix:{root}/sound",
        )
        # Xvfb picks a free display and tells its number, ending with a newline, once it takes
        # clients.
        xvfb = self._spawn(
            ["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"],
            stdout=subprocess.PIPE,
        )
        self.env["DISPLAY"] = ":" + xvfb.stdout.readline().decode().strip()
        bus = self._spawn(
            ["dbus-daemon", "--session", "--nofork", "--print-address"], stdout=subprocess.PIPE
        )
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        os.environ.update(self.env)  # pyatspi, imported after this, finds this bus
        self.start_sound()

    def _spawn(self, argv, **kw):
        self.procs.append(subprocess.Popen(argv, env=self.env, stderr=subprocess.DEVNULL, **kw))
        return self.procs[-1]

    # Starts the sound server and its recorder, or starts them again after `stop_sound`.
    # Audio goes over the socket: PulseAudio 16 can abort on its shared-memory path when a
    # client leaves with blocks still queued.
    def start_sound(self):
        self.pulse = self._spawn(
            [
                "pulseaudio",
                "-n",
                "--daemonize=no",
                "--exit-idle-time=-1",
                "--use-pid-file=no",
                "--disable-shm=yes",
                "--log-target=stderr",
                "--load=module-native-protocol-unix "
                f'auth-anonymous=1 socket={self.env["PULSE_SERVER"][5:]}',
                f"--load=module-null-sink sink_name=cap rate={RATE} norewinds=1",
            ]
        )
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode:
            time.sleep(0.05)
        self.recorder = Recorder(self.env, f"{self.dir.name}/sound-{len(self.procs)}.raw")
        self.procs.append(self.recorder.proc)

    def stop_sound(self):
        for proc in self.recorder.proc, self.pulse:
            proc.terminate()
            proc.wait()

    def __exit__(self, *exc):
        for proc in reversed(self.procs):
            proc.terminate()
            proc.wait()
        self.dir.cleanup()
