"""Both programs in GNOME's Wayland session (a headless mutter with Xwayland),
with Qt's Wayland plugin installed: by default they come up on the X display
beside it, centred, without maximise or resize, and kept above an activated
window when asked; a user's choice of Wayland is taken."""
import ctypes
import glob
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from desktop import Program

COUNTDOWN = os.environ["RUVO_COUNTDOWN"]
KITCHENTIMER = os.environ["RUVO_KITCHENTIMER"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")
PR_SET_PDEATHSIG = 1


def _end_with_the_test():
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class Mutter:
    """GNOME's compositor, headless, on a bus and runtime folder of its own."""

    def __init__(self):
        self.tree = tempfile.mkdtemp(prefix="ruvo-mutter-")
        xdg = os.path.join(self.tree, "xdg")
        os.mkdir(xdg, 0o700)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY")}
        env.update(XDG_RUNTIME_DIR=xdg, HOME=self.tree)
        log = os.path.join(self.tree, "mutter.log")
        with open(log, "w") as out:
            self.proc = subprocess.Popen(
                ["dbus-run-session", "--", "mutter", "--headless", "--wayland", "--virtual-monitor", "1024x768",
                 "--wayland-display=wl-ruvo"],
                env=env, stdout=out, stderr=subprocess.STDOUT, start_new_session=True, preexec_fn=_end_with_the_test)
        deadline = time.time() + 30
        found = None
        while not found:
            if time.time() > deadline or self.proc.poll() is not None:
                self.stop()
                raise AssertionError("mutter did not come up")
            time.sleep(0.1)
            with open(log, errors="replace") as f:
                found = re.search(r"Using public X11 display (:\d+)", f.read())
        auth = glob.glob(os.path.join(xdg, ".mutter-Xwaylandauth.*"))
        self.env = {"WAYLAND_DISPLAY": os.path.join(xdg, "wl-ruvo"), "DISPLAY": found.group(1),
                    "XAUTHORITY": auth[0] if auth else "", "XDG_SESSION_TYPE": "wayland",
                    "XDG_CURRENT_DESKTOP": "GNOME"}

    def stop(self):
        try:
            os.killpg(self.proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        self.proc.wait(timeout=10)
        shutil.rmtree(self.tree, ignore_errors=True)


def x(*command):
    return subprocess.run(command, capture_output=True, text=True, timeout=10).stdout


def frame(window):
    """The frame's upper-left corner, as the window manager placed it."""
    info = dict(l.strip().partition(":")[::2] for l in x("xwininfo", "-id", window).splitlines() if ":" in l)
    left, _, top, _ = (int(v) for v in x("xprop", "-id", window, "_NET_FRAME_EXTENTS").split("=")[1].split(","))
    return int(info["Absolute upper-left X"]) - left, int(info["Absolute upper-left Y"]) - top


class WaylandSession(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.mutter = Mutter()
        cls.saved = {k: os.environ.get(k) for k in cls.mutter.env}
        os.environ.update(cls.mutter.env)  # xdotool and xprop talk to Xwayland

    @classmethod
    def tearDownClass(cls):
        for k, v in cls.saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v
        cls.mutter.stop()

    def setUp(self):
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            p.stop()

    def program(self, exe, title, env=None):
        p = Program(exe, title, env=env)
        self.programs.append(p)
        return p

    def test_the_programs_come_up_on_xwayland_centred_framed_as_defined_and_on_top_when_asked(self):
        countdown = self.program(COUNTDOWN, "倒计时提示")
        with open(countdown.path("pz.ini"), "wb") as f:
            f.write("[sz]\r\n最前=真\r\n".encode("gb18030"))
        countdown.start()
        kitchen = self.program(KITCHENTIMER, r"倒计时提示\(Velmora\)").start()
        for p, (width, height) in ((countdown, (287, 278)), (kitchen, (271, 238))):
            self.assertEqual(frame(p.window), ((1024 - width) // 2, (768 - height) // 2), "centred")
            actions = x("xprop", "-id", p.window, "_NET_WM_ALLOWED_ACTIONS")
            self.assertIn("_NET_WM_ACTION_CLOSE", actions)
            for offered in ("MAXIMIZE", "RESIZE"):
                self.assertNotIn(offered, actions)

        subprocess.run(["xdotool", "windowactivate", "--sync", kitchen.window], check=True, timeout=10)
        self.assertEqual(x("xdotool", "getactivewindow").strip(), kitchen.window)
        deadline = time.time() + 10
        order = []
        while time.time() < deadline:
            ids = x("xprop", "-root", "_NET_CLIENT_LIST_STACKING").partition("#")[2]
            order = [str(int(w, 16)) for w in ids.replace(",", " ").split()]
            if order.index(countdown.window) > order.index(kitchen.window):
                break
            time.sleep(0.1)
        self.assertGreater(order.index(countdown.window), order.index(kitchen.window), "kept above")
        for p, name in ((countdown, "countdown"), (kitchen, "kitchentimer")):
            # Xwayland has no root image: each window with the frame mutter drew.
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)", x("xwininfo", "-tree", "-id", p.window)).group(1)
            subprocess.run(["import", "-window", parent, os.path.join(SHOTS, "wayland-session-%s.png" % name)],
                           check=True, timeout=30)

    def test_a_chosen_wayland_platform_is_taken(self):
        p = self.program(COUNTDOWN, "倒计时提示", env={"QT_QPA_PLATFORM": "wayland"}).launch()
        deadline = time.time() + 20
        maps = ""
        while "libqwayland" not in maps and time.time() < deadline:
            p.assert_running()
            time.sleep(0.1)
            with open("/proc/%d/maps" % p.proc.pid) as f:
                maps = f.read()
        self.assertIn("libqwayland", maps)
        self.assertNotIn("libqxcb", maps, "an X11 window")
        time.sleep(1)
        p.assert_running()


if __name__ == "__main__":
    unittest.main(verbosity=2)
