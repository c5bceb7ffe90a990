"""A private PulseAudio server with a null sink, and what its monitor hears."""
import array
import os
import subprocess
import tempfile
import time
import wave


class NullSink:
    def __init__(self, env):
        self.env = env
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--log-target=stderr", "-L", "module-native-protocol-unix auth-anonymous=1",
             "-L", "module-null-sink sink_name=null rate=48000", "-L", "module-always-sink"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            if subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        raise AssertionError("the PulseAudio server did not start")

    def wait_for_stream(self, timeout=10):
        """Waits until a program plays into the sink; a slow build (the
        sanitizers) or a busy machine may start the sound late."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            out = subprocess.run(["pactl", "list", "short", "sink-inputs"], env=self.env,
                                 capture_output=True, text=True)
            if out.stdout.strip():
                return
            time.sleep(0.05)
        raise AssertionError("nothing played into the sink")

    def record(self):
        """Starts recording the monitor; stop() on the result gives the windows heard."""
        return Recording(self.env)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class Recording:
    """What the sink's monitor hears. An idle null sink may deliver no samples
    at all, so a pause shows either as silent windows or as missing time."""

    WINDOW = 0.05  # seconds

    def __init__(self, env):
        fd, self.path = tempfile.mkstemp(suffix=".wav")
        os.close(fd)
        self.started = time.time()
        self.proc = subprocess.Popen(["parec", "-d", "null.monitor", "--rate=48000", "--channels=2",
                                      "--format=s16le", "--file-format=wav", self.path], env=env)

    def stop(self):
        """Gives (wall seconds, RMS of each 50 ms window recorded)."""
        self.proc.terminate()
        self.proc.wait()
        wall = time.time() - self.started
        try:
            with wave.open(self.path) as w:
                data = array.array("h", w.readframes(w.getnframes()))
        except (wave.Error, EOFError):
            data = array.array("h")
        os.unlink(self.path)
        step = int(48000 * 2 * self.WINDOW)
        windows = []
        for i in range(0, len(data) - step + 1, step):
            chunk = data[i:i + step]
            windows.append((sum(v * v for v in chunk) / len(chunk)) ** 0.5)
        return wall, windows
