"""A private sound server for end-to-end tests: Debian's PulseAudio with one
null sink, reachable only through a unix socket in a folder of its own.

    with SoundServer() as server:
        env = dict(os.environ, **server.client_env())   # PULSE_SERVER=unix:...
        with server.record(path):                        # the sink's monitor, raw
            ...play through it...
        frames = server.frames(path)                     # numpy int16, (n, 2)

The server is started with -n (no default configuration), so it loads only
the null sink and the native protocol on that socket: it never looks for
sound hardware, D-Bus or X11, and it writes its messages to a log file in
its folder rather than to the test's output. It runs as root too (it only
warns about that, in its log). The sink runs at RATE, 16-bit stereo, the
format the programs under test ask for, so that it plays their streams
without converting them.
"""
import contextlib
import os
import shutil
import subprocess
import tempfile
import time

import xharness as xh

RATE = 44100
CHANNELS = 2
SINK = "twindial_test"
PACKAGES = ("pulseaudio", "pulseaudio-utils")


class SoundServer:
    def __init__(self, rate=RATE):
        self.rate = rate
        self.folder = None
        self.proc = None
        self.recorders = []

    @property
    def socket(self):
        return os.path.join(self.folder, "native")

    @property
    def server(self):
        """The value of PULSE_SERVER that reaches this server."""
        return "unix:" + self.socket

    def client_env(self):
        """What a client's environment needs to play through this server."""
        return {"PULSE_SERVER": self.server}

    def log(self):
        with open(os.path.join(self.folder, "server.log"), errors="replace") as f:
            return f.read()

    def _env(self):
        # Everything the server would look for goes to its own folder; with
        # no display and no reachable bus it tries neither X11 nor D-Bus.
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("PULSE_", "PIPEWIRE_", "DISPLAY", "DBUS_", "XDG_"))}
        env.update(HOME=self.folder, XDG_RUNTIME_DIR=self.folder, PULSE_RUNTIME_PATH=self.folder,
                   PULSE_STATE_PATH=self.folder, XDG_CONFIG_HOME=self.folder,
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.folder, "no-bus"))
        return env

    def start(self, timeout=15):
        self.folder = tempfile.mkdtemp(prefix="twindial-sound-")
        argv = ["pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
                "--realtime=no", "--high-priority=no", "--disallow-module-loading",
                "--log-target=file:" + os.path.join(self.folder, "server.log"),
                "-L", f"module-null-sink sink_name={SINK} rate={self.rate} channels={CHANNELS} "
                      f"format=s16le",
                "-L", f"module-native-protocol-unix socket={self.socket} auth-anonymous=1"]
        self.proc = xh._spawn(argv, cwd=self.folder, env=self._env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while not self.ready():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                log = self.log() if os.path.exists(os.path.join(self.folder, "server.log")) else ""
                self.stop()
                raise xh.Failure("the sound server did not start:\n" + log[-2000:])
            time.sleep(0.1)
        return self

    def ready(self):
        if not os.path.exists(self.socket):
            return False
        r = subprocess.run(["pactl", "list", "short", "sinks"], env=dict(self._env(), **self.client_env()),
                           capture_output=True, text=True, timeout=10)
        return r.returncode == 0 and SINK in r.stdout

    @contextlib.contextmanager
    def record(self, path):
        """Records the null sink's monitor, what every client plays mixed, as
        raw 16-bit stereo frames at the sink's rate, for as long as the block
        runs."""
        proc = xh._spawn(["parec", "--device=" + SINK + ".monitor", "--format=s16le",
                                 f"--rate={self.rate}", f"--channels={CHANNELS}", "--raw",
                                 "--latency-msec=20", path],
                                env=dict(self._env(), **self.client_env()), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.recorders.append(proc)
        try:
            # The monitor sends silence from the start: wait for its first frames.
            deadline = time.monotonic() + 10
            while (not os.path.exists(path) or os.path.getsize(path) == 0) and proc.poll() is None:
                if time.monotonic() > deadline:
                    raise xh.Failure("parec recorded nothing")
                time.sleep(0.02)
            if proc.poll() is not None:
                raise xh.Failure("parec failed: " + proc.stderr.read().decode(errors="replace"))
            yield path
        finally:
            xh._end(proc)
            self.recorders.remove(proc)

    @staticmethod
    def frames(path):
        import numpy
        data = numpy.fromfile(path, dtype="<i2")
        return data[:len(data) - len(data) % CHANNELS].reshape(-1, CHANNELS)

    def kill(self):
        """The server dies at once, as after a crash: no goodbye to its clients."""
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def stop(self):
        for proc in self.recorders:
            xh._end(proc)
        self.recorders = []
        xh._end(self.proc)
        self.proc = None
        if self.folder is not None:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

