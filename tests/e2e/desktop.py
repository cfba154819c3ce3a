"""A private desktop for the real program: an X server, a session bus with the accessibility
bus on it, and a PulseAudio server whose one null sink is recorded. Nothing here meets the
user's own desktop, settings or sound; everything ends with the `Desktop` that started it."""
import array, os, signal, subprocess, tempfile, threading, time

RATE = 44100


class Recorder:
    """parec on the null sink's monitor; keeps each piece with the moment it arrived."""

    def __init__(self, env):
        # Without a small latency parec holds audio back for seconds.
        self.proc = subprocess.Popen(['parec', '--latency-msec=10', '-d', 'cap.monitor', '--raw',
                                      '--format=s16le', f'--rate={RATE}', '--channels=1'],
                                     env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.samples, self.arrivals, self.lock = array.array('h'), [], threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()
        # A fresh sink runs ahead of the clock for a moment: wait until audio flows steadily.
        start = self.position()
        while self.position() - start < RATE // 2:
            time.sleep(0.05)

    def _read(self):
        odd = b''
        while chunk := os.read(self.proc.stdout.fileno(), 4096):
            chunk, odd = odd + chunk, b''
            if len(chunk) % 2:
                chunk, odd = chunk[:-1], chunk[-1:]
            with self.lock:
                self.samples.frombytes(chunk)
                self.arrivals.append((time.monotonic_ns(), len(self.samples)))

    def position(self):
        with self.lock:
            return len(self.samples)

    def sounds(self, since=0, level=300, gap=0.02):
        """(first frame, frames) of each stretch louder than `level` after frame `since`,
        stretches less than `gap` seconds apart counting as one."""
        with self.lock:
            loud = [i for i in range(since, len(self.samples)) if abs(self.samples[i]) > level]
        found = []
        for i in loud:
            if found and i - found[-1][1] < gap * RATE:
                found[-1][1] = i
            else:
                found.append([i, i])
        return [(a, b - a + 1) for a, b in found]

    def arrival_ns(self, frame):
        """When the piece holding `frame` reached us, on the monotonic clock."""
        with self.lock:
            return next(ns for ns, end in self.arrivals if end > frame)


class Desktop:
    def __init__(self, sound=True):
        self.dir = tempfile.TemporaryDirectory(prefix='mojitan-desktop-')
        root, self.procs = self.dir.name, []
        run = os.path.join(root, 'run')
        os.makedirs(run, mode=0o700)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=run, HOME=root, PULSE_STATE_PATH=root,
                        XDG_CONFIG_HOME=os.path.join(root, 'config'), QT_QPA_PLATFORM='xcb',
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', PULSE_SERVER=f'unix:{root}/sound')
        r, w = os.pipe()
        self._spawn(['Xvfb', '-displayfd', str(w), '-nolisten', 'tcp', '-screen', '0', '640x480x24'],
                    pass_fds=[w])
        os.close(w)
        self.env['DISPLAY'] = ':' + os.read(r, 64).decode().strip()
        os.close(r)
        bus = self._spawn(['dbus-daemon', '--session', '--nofork', '--print-address'],
                          stdout=subprocess.PIPE)
        self.env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().decode().strip()
        os.environ.update(self.env)  # pyatspi, imported after this, finds this bus
        self.recorder = self.start_sound() if sound else None

    def _spawn(self, argv, **kw):
        proc = subprocess.Popen(argv, env=self.env, stderr=subprocess.DEVNULL, **kw)
        self.procs.append(proc)
        return proc

    def start_sound(self):
        """Starts the sound server, or starts it again after `stop_sound`; returns its recorder.
        Audio goes over the socket: PulseAudio 16 can abort on its shared-memory path when a
        client leaves with blocks still queued."""
        self.pulse = self._spawn(['pulseaudio', '-n', '--daemonize=no', '--exit-idle-time=-1',
                                  '--use-pid-file=no', '--disable-shm=yes', '--log-target=stderr',
                                  '--load=module-native-protocol-unix auth-anonymous=1 socket='
                                  + self.env['PULSE_SERVER'][5:],
                                  '--load=module-null-sink sink_name=cap rate=44100 norewinds=1'])
        while subprocess.run(['pactl', 'info'], env=self.env, capture_output=True).returncode:
            time.sleep(0.05)
        self.recorder = Recorder(self.env)
        return self.recorder

    def stop_sound(self):
        for proc in (self.recorder.proc, self.pulse):
            proc.send_signal(signal.SIGINT if proc is self.recorder.proc else signal.SIGTERM)
            proc.wait()

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                proc.wait()
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
