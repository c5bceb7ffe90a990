"""How a session ends the programs: SIGTERM, SIGINT and SIGHUP close the
window as its close box does (exit code 0, the default sound removed), also
while a message box or the About window is open; a broken display connection
removes the default sound as well."""
import os
import signal
import subprocess
import time
import unittest

import pyatspi

from desktop import Program
from test_kitchentimer import ABOUT_LINK, TITLE, about_window, click_at

PROGRAMS = [(os.environ["RUVO_COUNTDOWN"], "倒计时提示"), (os.environ["RUVO_KITCHENTIMER"], TITLE.replace("(", r"\(").replace(")", r"\)"))]
SIGNALS = [signal.SIGTERM, signal.SIGINT, signal.SIGHUP]


class SessionEnd(unittest.TestCase):
    def setUp(self):
        self.program = None
        self.display = None

    def tearDown(self):
        if self.program:
            self.program.stop()
        if self.display:
            self.display.kill()
            self.display.wait()

    def ends_cleanly(self, p, sig):
        self.assertTrue(os.path.exists(p.default_sound()))
        p.proc.send_signal(sig)
        self.assertEqual(p.wait(), 0, signal.Signals(sig).name)
        self.assertFalse(os.path.exists(p.default_sound()), signal.Signals(sig).name)

    def test_each_signal_closes_each_program(self):
        for exe, title in PROGRAMS:
            for sig in SIGNALS:
                with self.subTest(program=os.path.basename(exe), signal=signal.Signals(sig).name):
                    self.program = Program(exe, title)
                    self.ends_cleanly(self.program.start(), sig)
                    self.program.stop()

    def test_a_signal_closes_an_open_box_then_the_window(self):
        self.program = Program(*PROGRAMS[0])
        p = self.program.start()
        p.key("ctrl+a", "BackSpace")
        p.click("OK")
        p.find(pyatspi.ROLE_ALERT, None, showing=False)
        self.ends_cleanly(p, signal.SIGTERM)

    def test_a_signal_closes_the_about_window_then_the_main_window(self):
        self.program = Program(*PROGRAMS[1])
        p = self.program.start()
        click_at(p.window, ABOUT_LINK)
        self.assertIsNotNone(about_window(p), "the About window did not open")
        self.ends_cleanly(p, signal.SIGHUP)

    def test_a_lost_display_removes_the_default_sound(self):
        # A display of the test's own, to pull away from under the program.
        read, write = os.pipe()
        self.display = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                         "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        self.program = Program(*PROGRAMS[1], env={"DISPLAY": ":" + number})
        ours = os.environ["DISPLAY"]
        os.environ["DISPLAY"] = ":" + number  # where start() looks for the window
        try:
            p = self.program.start()
        finally:
            os.environ["DISPLAY"] = ours
        self.assertTrue(os.path.exists(p.default_sound()))
        self.display.kill()
        self.display.wait()
        self.display = None
        self.assertEqual(p.wait(), 1)  # the toolkit's own code for a broken display
        self.assertFalse(os.path.exists(p.default_sound()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
