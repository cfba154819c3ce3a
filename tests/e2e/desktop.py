# A private desktop for the real program: an X server, a session bus with the accessibility
# bus on it, and a PulseAudio server whose one null sink is recorded. Nothing here meets the
# user's own desktop, settings or sound; everything ends with the `Desktop` that started it.
import array, contextlib, os, subprocess, tempfile, threading, time

RATE = 44100


# parec on the null sink's monitor; keeps each piece with the moment it arrived.
class Recorder:
    def __init__(self, env):
        # Without a small latency parec holds audio back for seconds.
        self.proc = subprocess.Popen(['parec', '--latency-msec=10', '-d', 'cap.monitor', '--raw', '--format=s16le', f'--rate={RATE}',
                                      '--channels=1'], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.samples, self.arrivals, self.lock = array.array('h'), [], threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()
        # A fresh sink runs ahead of the clock for a moment: wait until audio flows steadily.
        start = self.position()
        while self.position() - start < RATE // 2:
            time.sleep(0.05)

    def _read(self):
        data = b''
        while chunk := os.read(self.proc.stdout.fileno(), 4096):
            data += chunk
            whole, data = data[:len(data) & ~1], data[len(data) & ~1:]  # a piece may end inside a sample
            with self.lock:
                self.samples.frombytes(whole)
                self.arrivals.append((time.monotonic_ns(), len(self.samples)))

    def position(self):
        with self.lock:
            return len(self.samples)

    # (first frame, frames) of each stretch louder than `level` after frame `since`,
    # stretches less than `gap` seconds apart counting as one.
    def sounds(self, since=0, level=300, gap=0.02):
        with self.lock:
            loud = [i for i in range(since, len(self.samples)) if abs(self.samples[i]) > level]
        breaks = [n for n in range(1, len(loud)) if loud[n] - loud[n - 1] >= gap * RATE]
        return [(loud[a], loud[b - 1] - loud[a] + 1) for a, b in zip([0] + breaks, breaks + [len(loud)]) if loud]

    # When the piece holding `frame` reached us, on the monotonic clock.
    def arrival_ns(self, frame):
        with self.lock:
            return next(ns for ns, end in self.arrivals if end > frame)


class Desktop(contextlib.AbstractContextManager):
    def __init__(self, sound=True):
        self.dir = tempfile.TemporaryDirectory(prefix='mojitan-desktop-')
        root, self.procs = self.dir.name, []
        self.env = dict(os.environ, XDG_RUNTIME_DIR=root, HOME=root, PULSE_STATE_PATH=root,
                        XDG_CONFIG_HOME=f'{root}/config', QT_QPA_PLATFORM='xcb',
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', PULSE_SERVER=f'unix:{root}/sound')
        # Xvfb picks a free display and tells its number, ending with a newline, once it takes clients.
        xvfb = self._spawn(['Xvfb', '-displayfd', '1', '-nolisten', 'tcp', '-screen', '0', '640x480x24'], stdout=subprocess.PIPE)
        self.env['DISPLAY'] = ':' + xvfb.stdout.readline().decode().strip()
        bus = self._spawn(['dbus-daemon', '--session', '--nofork', '--print-address'], stdout=subprocess.PIPE)
        self.env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().decode().strip()
        os.environ.update(self.env)  # pyatspi, imported after this, finds this bus
        self.recorder = self.start_sound() if sound else None

    def _spawn(self, argv, **kw):
        self.procs.append(subprocess.Popen(argv, env=self.env, stderr=subprocess.DEVNULL, **kw))
        return self.procs[-1]

    # Starts the sound server, or starts it again after `stop_sound`; returns its recorder.
    # Audio goes over the socket: PulseAudio 16 can abort on its shared-memory path when a
    # client leaves with blocks still queued.
    def start_sound(self):
        self.pulse = self._spawn(['pulseaudio', '-n', '--daemonize=no', '--exit-idle-time=-1', '--use-pid-file=no',
                                  '--disable-shm=yes', '--log-target=stderr', '--load=module-native-protocol-unix '
                                  f'auth-anonymous=1 socket={self.env["PULSE_SERVER"][5:]}',
                                  f'--load=module-null-sink sink_name=cap rate={RATE} norewinds=1'])
        while subprocess.run(['pactl', 'info'], env=self.env, capture_output=True).returncode:
            time.sleep(0.05)
        self.recorder = Recorder(self.env)
        self.procs.append(self.recorder.proc)
        return self.recorder

    def stop_sound(self):
        for proc in self.recorder.proc, self.pulse:
            proc.terminate()
            proc.wait()

    def close(self):
        for proc in reversed(self.procs):
            proc.terminate()
            proc.wait()
        self.dir.cleanup()

    def __exit__(self, *exc):
        self.close()
