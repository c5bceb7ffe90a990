"""The real countdown timer at the end of its launch and power countdowns:
it starts a program from its run directory and hands a web address to
xdg-open (a stub that logs), and asks a mock logind for the power action,
forced and without a word."""
import os
import stat
import time
import unittest

import pyatspi

from desktop import Program
from logind import HungBus, MockLogind

EXE = os.environ["RUVO_COUNTDOWN"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")
ADDRESS = "https://example.com/a b?x=1&y='2'"


def wait_for(path, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if os.path.exists(path):
            time.sleep(0.1)
            with open(path) as f:
                return f.read()
        time.sleep(0.05)
    raise AssertionError("%s never appeared" % path)


def start_countdown(p, page, delay, confirmation, test):
    p.click(page, role=pyatspi.ROLE_PAGE_TAB)
    p.click_text(0)  # the delay box is the page's first edit box
    p.key("ctrl+a")
    p.type(delay)
    p.click("OK")
    test.assertEqual(p.close_alert(), confirmation)


class CountdownLaunchAndPower(unittest.TestCase):
    def setUp(self):
        self.program = Program(EXE, "倒计时提示")
        self.logind = MockLogind(self.program.tree)
        self.program.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.logind.address

    def tearDown(self):
        self.program.stop()
        self.logind.stop()

    def start_countdown(self, page, confirmation):
        start_countdown(self.program, page, "1", confirmation, self)

    def test_launch_starts_a_script_by_relative_name_and_opens_an_address(self):
        p = self.program
        script = p.path("tool.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\npwd > ran.tmp\nmv ran.tmp ran\n")
        os.chmod(script, stat.S_IRWXU)
        with open(p.path("pz.ini"), "wb") as f:
            f.write(("[yy]\r\n程序=tool.sh\r\n程序2=%s\r\n" % ADDRESS).encode("gb18030"))
        p.start()
        self.start_countdown("启动程序", "你设置了1秒后启动程序！")
        self.assertEqual(wait_for(p.path("ran")), p.run_dir + "\n")
        self.assertEqual(wait_for(p.xdg_open_log()), ADDRESS + "\n")
        p.screenshot(os.path.join(SHOTS, "countdown-launch-page.png"))
        p.assert_running()

    def test_power_countdown_asks_logind_forced_and_log_off_ends_the_session(self):
        p = self.program
        self.logind.mock_call("AddSession", "c1", "seat0", os.getuid(), "tester", True)
        # Ending the session removes it, as logind would.
        self.logind.mock_call("AddMethod", "org.freedesktop.login1.Manager", "TerminateSession", "s", "",
                              "self.RemoveObject('/org/freedesktop/login1/session/' + args[0])")
        p.env["XDG_SESSION_ID"] = "c1"
        p.start()
        self.start_countdown("定时关机", "你设置了1秒后关机")
        self.assertEqual(self.logind.wait_for_call("PowerOff"), ["PowerOff False"])
        self.assertIn("CanPowerOff", self.logind.calls())

        p.click("注销", role=pyatspi.ROLE_CHECK_BOX)
        self.start_countdown("定时关机", "你设置了1秒后注销")
        self.assertEqual(self.logind.wait_for_call("TerminateSession"), ['TerminateSession "c1"'])
        self.assertNotIn("/org/freedesktop/login1/session/c1", [s[4] for s in self.logind.manager.ListSessions(
            dbus_interface="org.freedesktop.login1.Manager")])
        p.screenshot(os.path.join(SHOTS, "countdown-power-done.png"))
        p.assert_running()  # no message box: the window is free for a key
        p.key("Escape")
        self.assertEqual(p.wait(), 0)


class CountdownOnAHungSystemBus(unittest.TestCase):
    def setUp(self):
        self.program = Program(EXE, "倒计时提示")
        self.bus = HungBus(self.program.tree)
        self.program.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.bus.address

    def tearDown(self):
        self.program.stop()
        self.bus.stop()

    def test_window_and_alarm_do_not_wait_for_the_bus_and_a_power_action_gives_up(self):
        p = self.program.start()
        start_countdown(p, "zuv", "100", "你设置了100秒后鸣叫！", self)
        self.assertEqual(self.bus.accepted, [], "the bus is reached only by a power action")
        time.sleep(0.5)  # the box is gone before the next click goes to the window

        start_countdown(p, "定时关机", "1", "你设置了1秒后关机", self)
        deadline = time.time() + 10
        while time.time() < deadline and not self.bus.accepted:
            time.sleep(0.05)
        self.assertTrue(self.bus.accepted, "the power action never tried the bus")
        # The action waits for the bus only so long: then the window closes on Escape.
        p.key("Escape")
        self.assertEqual(p.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
