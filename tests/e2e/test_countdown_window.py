"""The real countdown timer on a display: its window comes up with its title,
and it ends with exit code 0 by Escape (removing its default sound) and by
"强制关闭" (leaving it)."""
import os
import sys
import time
import unittest

import pyatspi

from desktop import Program

EXE = os.environ["RUVO_COUNTDOWN"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")


class CountdownWindow(unittest.TestCase):
    def setUp(self):
        self.program = Program(EXE, "倒计时提示")

    def tearDown(self):
        self.program.stop()

    def test_escape_closes_the_window_with_exit_code_zero(self):
        p = self.program.start()
        p.screenshot(os.path.join(SHOTS, "countdown-window.png"))
        self.assertTrue(os.path.exists(p.default_sound()))
        self.assertFalse(os.path.exists(p.path("pz.ini")))
        p.key("Escape")
        self.assertEqual(p.wait(), 0)
        self.assertFalse(os.path.exists(p.default_sound()))

    def test_force_close_ends_at_once_and_leaves_the_default_sound(self):
        p = self.program.start()
        p.click("定时关机", role=pyatspi.ROLE_PAGE_TAB)
        time.sleep(0.3)
        p.screenshot(os.path.join(SHOTS, "countdown-power-page.png"))
        p.click("强制关闭")
        self.assertEqual(p.wait(), 0)
        self.assertTrue(os.path.exists(p.default_sound()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
