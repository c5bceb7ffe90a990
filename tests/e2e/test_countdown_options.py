"""The countdown timer's "设置" page on a display with a real window manager
(openbox): "总在最前" keeps the window above a window activated over it, and
"开机自启" writes and removes the user's autostart entry."""
import os
import subprocess
import time
import unittest

import pyatspi

from desktop import Program, WindowManager

EXE = os.environ["RUVO_COUNTDOWN"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")
TITLE = "倒计时提示"


def xprop(*args):
    return subprocess.run(["xprop", *args], capture_output=True, text=True, timeout=10).stdout


def stacking():
    """Managed windows, bottom to top, as decimal ids."""
    out = xprop("-root", "_NET_CLIENT_LIST_STACKING")
    ids = out.split("#", 1)[1] if "#" in out else ""
    return [str(int(w.strip(), 16)) for w in ids.split(",") if w.strip()]


def wait_for(condition, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


class CountdownOptions(unittest.TestCase):
    def setUp(self):
        self.wm = WindowManager("openbox", "--sm-disable")
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            p.stop()
        self.wm.stop()

    def program(self, run_name="run"):
        p = Program(EXE, TITLE, run_name=run_name)
        self.programs.append(p)
        return p

    def test_stored_always_on_top_keeps_the_window_above_one_activated_over_it(self):
        first = self.program()
        with open(first.path("pz.ini"), "wb") as f:
            f.write("[sz]\r\n最前=真\r\n".encode("gb18030"))
        first.start()
        self.assertTrue(wait_for(lambda: "_NET_WM_STATE_ABOVE" in xprop("-id", first.window, "_NET_WM_STATE")))

        second = self.program().start()
        subprocess.run(["xdotool", "windowactivate", "--sync", second.window], check=True, timeout=10)
        time.sleep(0.5)
        order = stacking()
        self.assertLess(order.index(second.window), order.index(first.window), order)
        # Kept on top without taking the focus from the window the user chose.
        active = subprocess.run(["xdotool", "getactivewindow"], capture_output=True, text=True, timeout=10).stdout
        self.assertEqual(active.strip(), second.window)
        first.screenshot(os.path.join(SHOTS, "countdown-always-on-top.png"))
        first.assert_running()

    def test_saving_with_autostart_writes_the_entry_and_unchecking_removes_it(self):
        p = self.program("运行 目录").start()
        entry = os.path.join(p.tree, "config", "autostart", "zuv.desktop")
        p.click("设置", role=pyatspi.ROLE_PAGE_TAB)
        p.click("开机自启", role=pyatspi.ROLE_CHECK_BOX)
        p.click("按钮")
        self.assertTrue(wait_for(lambda: os.path.exists(entry)))
        with open(entry, encoding="utf-8") as f:
            self.assertIn('\nExec="%s"\n' % os.path.join(p.run_dir, "countdown"), f.read())
        with open(p.path("pz.ini"), "rb") as f:
            self.assertIn("自启=真".encode("gb18030"), f.read())
        p.screenshot(os.path.join(SHOTS, "countdown-settings-page.png"))

        p.click("开机自启", role=pyatspi.ROLE_CHECK_BOX)
        p.click("按钮")
        self.assertTrue(wait_for(lambda: not os.path.exists(entry)))
        p.assert_running()


if __name__ == "__main__":
    unittest.main(verbosity=2)
