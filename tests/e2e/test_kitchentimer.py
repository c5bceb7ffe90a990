"""The real kitchen timer on a display: it comes up centred with its start
values, plays and stops music and rings a one-second alarm on a null sink,
closes its About window and itself by Escape, and under a window manager keeps
the About window above with no task-bar button."""
import os
import subprocess
import time
import unittest

import pyatspi

from desktop import Program, WindowManager, click_point
from pulse import NullSink

EXE = os.environ["RUVO_KITCHENTIMER"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")
TITLE = "倒计时提示(Velmora)"
LOUD = 300.0   # RMS of 16-bit samples: clearly sound
QUIET = 30.0   # below this: silence

# Client points of units whose captions are not unique or not text.
MUSIC_STOP = (5 + 123 + 24, 61 + 55 + 10)
ABOUT_LINK = (181 + 9 + 30, 145 + 34 + 8)


def origin(window):
    out = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True, check=True, timeout=10).stdout
    values = {}
    for line in out.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
            int(values["Width"]), int(values["Height"]))


def click_at(window, point):
    x, y, _, _ = origin(window)
    click_point(x + point[0], y + point[1])


def about_window(program, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(program.proc.pid), "."],
                             capture_output=True, text=True, timeout=10).stdout.split()
        for w in out:
            name = subprocess.run(["xdotool", "getwindowname", w], capture_output=True, text=True).stdout.strip()
            if name == "关于我们":
                return w
        time.sleep(0.1)
    return None


def heard(windows):
    return [w > LOUD for w in windows]


def hears_within(sink, seconds):
    """Whether sound reaches the sink within the time; a loaded machine may
    take a few seconds to start the first sound."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        rec = sink.record()
        time.sleep(0.5)
        _, windows = rec.stop()
        if any(heard(windows)):
            return True
    return False


class KitchenTimer(unittest.TestCase):
    def setUp(self):
        self.program = Program(EXE, TITLE.replace("(", r"\(").replace(")", r"\)"))
        self.sink = None

    def tearDown(self):
        self.program.stop()
        if self.sink:
            self.sink.stop()

    def end(self, p):
        """Escape in the main window ends the program, which removes its default sound; a
        program that ends by itself also leaves the accessibility bus at once."""
        p.key("Escape")
        self.assertEqual(p.wait(), 0)
        self.assertFalse(os.path.exists(p.default_sound()))

    def test_starts_centred_with_its_start_values(self):
        p = self.program.start()
        time.sleep(0.3)
        p.screenshot(os.path.join(SHOTS, "kitchentimer-window.png"))
        self.assertEqual(origin(p.window), ((1024 - 271) // 2, (768 - 238) // 2, 265, 213))
        self.assertEqual(p.find(pyatspi.ROLE_TEXT).queryText().getText(0, -1), "5")
        p.find(pyatspi.ROLE_LABEL, "分钟")
        p.find(pyatspi.ROLE_LABEL, "空闲")
        self.assertTrue(os.path.exists(p.default_sound()))
        self.end(p)

    def test_play_is_heard_and_stop_silences_it(self):
        self.sink = NullSink(self.program.env)
        p = self.program.start()
        p.click("播放")
        self.assertTrue(hears_within(self.sink, 10), "播放 was not heard")
        p.find(pyatspi.ROLE_LABEL, "默认音乐")
        click_at(p.window, MUSIC_STOP)
        p.find(pyatspi.ROLE_LABEL, "停止播放")
        time.sleep(0.3)
        rec = self.sink.record()
        time.sleep(1.0)
        _, windows = rec.stop()
        self.assertFalse(any(heard(windows)), "the music went on after 停止")
        self.end(p)

    def test_one_second_alarm_rings(self):
        self.sink = NullSink(self.program.env)
        p = self.program.start()
        p.key("ctrl+a")
        p.type("1")
        p.click("秒", role=pyatspi.ROLE_CHECK_BOX)
        p.click("OK")
        self.assertEqual(p.close_alert(), "你设置了1秒后鸣叫！")
        p.find(pyatspi.ROLE_LABEL, "正在倒计时 ")
        self.assertTrue(hears_within(self.sink, 10), "the alarm was not heard")
        p.find(pyatspi.ROLE_LABEL, "正在倒计时 ")  # the alarm leaves the status line alone
        self.end(p)

    def test_escape_closes_the_about_window_then_the_program(self):
        p = self.program.start()
        click_at(p.window, ABOUT_LINK)
        about = about_window(p)
        self.assertIsNotNone(about, "the About window did not open")
        time.sleep(0.3)
        subprocess.run(["import", "-window", about, os.path.join(SHOTS, "kitchentimer-about.png")], check=True, timeout=30)
        self.assertEqual(origin(about), ((1024 - 284) // 2, (768 - 140) // 2, 278, 115))
        subprocess.run(["xdotool", "windowfocus", "--sync", about], check=True, timeout=10)
        subprocess.run(["xdotool", "key", "Escape"], check=True, timeout=10)
        deadline = time.time() + 5
        while about_window(p, timeout=0.2) and time.time() < deadline:
            pass
        self.assertIsNone(about_window(p, timeout=0.2))
        p.assert_running()
        self.end(p)

    def test_about_window_is_above_without_a_task_bar_button_under_a_window_manager(self):
        wm = WindowManager("openbox", "--sm-disable")
        try:
            p = self.program.start()
            time.sleep(0.5)
            click_at(p.window, ABOUT_LINK)
            about = about_window(p)
            self.assertIsNotNone(about, "the About window did not open")
            time.sleep(0.5)
            subprocess.run(["import", "-window", "root", os.path.join(SHOTS, "kitchentimer-about-openbox.png")],
                           check=True, timeout=30)
            props = subprocess.run(["xprop", "-id", about, "_NET_WM_STATE", "WM_TRANSIENT_FOR"],
                                   capture_output=True, text=True, check=True).stdout
            self.assertIn("_NET_WM_STATE_ABOVE", props)
            self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", props)
            self.assertIn(hex(int(p.window)), props, "the About window belongs to the main window")
            main_props = subprocess.run(["xprop", "-id", p.window, "_NET_WM_STATE", "_NET_WM_ALLOWED_ACTIONS"],
                                        capture_output=True, text=True, check=True).stdout
            self.assertNotIn("SKIP_TASKBAR", main_props)
            self.assertNotIn("_NET_WM_ACTION_MAXIMIZE", main_props)
            stacking = subprocess.run(["xprop", "-root", "_NET_CLIENT_LIST_STACKING"], capture_output=True,
                                      text=True, check=True).stdout
            ids = [int(w, 16) for w in stacking.split("#")[1].replace(",", " ").split()]
            self.assertGreater(ids.index(int(about)), ids.index(int(p.window)))
            subprocess.run(["xdotool", "key", "Escape"], check=True, timeout=10)
            time.sleep(0.3)
            p.key("Escape")
            self.assertEqual(p.wait(), 0)
        finally:
            wm.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
