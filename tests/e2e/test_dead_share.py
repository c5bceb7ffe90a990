"""Dead network shares (FUSE files that never answer). The kitchen timer
with its music on one: presses of 播放 and 停止 leave only a few stuck
streams behind, however many there are, the window answers throughout, and
the default music still plays. The countdown timer with a launch path on
one: the other paths open on time and the program still ends at once."""
import os
import time
import unittest

import pyatspi

from dead_share import DeadShare
from desktop import Program
from pulse import NullSink
from test_countdown_launch_power import start_countdown, wait_for
from test_kitchentimer import MUSIC_STOP, TITLE, click_at, hears_within, origin

EXE = os.environ["RUVO_KITCHENTIMER"]
PRESSES = 25


def counts(pid):
    return len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid))


class DeadShareTest(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or not os.path.exists("/dev/fuse"):
            self.skipTest("mounting a FUSE file system needs root and /dev/fuse")
        self.program = Program(EXE, TITLE.replace("(", r"\(").replace(")", r"\)"))
        self.share = DeadShare(os.path.join(self.program.tree, "share"))
        self.sink = NullSink(self.program.env)

    def tearDown(self):
        # The share first: the kernel lets no process with a read pending on
        # it end, not even a killed one, until the share answers or is gone.
        self.share.stop()
        self.program.stop()
        self.sink.stop()

    def test_presses_on_a_stuck_file_keep_threads_and_descriptors_bounded(self):
        with open(self.program.path("pz.ini"), "wb") as f:
            f.write(("[yy]\r\n音乐=%s\r\n" % self.share.path()).encode("gb18030"))
        p = self.program.start()
        p.find(pyatspi.ROLE_LABEL, "空闲")
        threads, fds = counts(p.proc.pid)
        x, y, w, h = p.find(pyatspi.ROLE_PUSH_BUTTON, "播放").queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        wx, wy, _, _ = origin(p.window)
        play = (x - wx + w // 2, y - wy + h // 2)
        for _ in range(PRESSES):
            click_at(p.window, play)
            time.sleep(0.05)
            click_at(p.window, MUSIC_STOP)
            time.sleep(0.05)
        p.find(pyatspi.ROLE_LABEL, "停止播放")  # the window has answered every press
        time.sleep(0.5)
        threads_now, fds_now = counts(p.proc.pid)
        print("after %d presses of 播放 and 停止 on a dead share: threads %d -> %d, descriptors %d -> %d"
              % (PRESSES, threads, threads_now, fds, fds_now))
        # A stuck stream with its file, and the player library's file, with room to spare.
        self.assertLessEqual(threads_now, threads + 3)
        self.assertLessEqual(fds_now, fds + 4)

        p.click_text(1)
        p.key("ctrl+a", "BackSpace")
        p.click("播放")
        p.find(pyatspi.ROLE_LABEL, "默认音乐")
        self.assertTrue(hears_within(self.sink, 15), "the default music was not heard")


class CountdownLaunchOnADeadShare(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or not os.path.exists("/dev/fuse"):
            self.skipTest("mounting a FUSE file system needs root and /dev/fuse")
        self.program = Program(os.environ["RUVO_COUNTDOWN"], "倒计时提示")
        self.share = DeadShare(os.path.join(self.program.tree, "share"))

    def tearDown(self):
        self.share.stop()
        self.program.stop()

    def test_a_path_whose_lookup_never_answers_holds_back_neither_the_next_path_nor_the_exit(self):
        p = self.program
        script = p.path("tool.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\ntouch ran\n")
        os.chmod(script, 0o700)
        document = p.path("说明.txt")
        with open(document, "w") as f:
            f.write("notes\n")
        with open(p.path("pz.ini"), "wb") as f:
            f.write(("[yy]\r\n程序=tool.sh\r\n程序2=%s\r\n程序3=%s\r\n"
                     % (self.share.unanswered_path(), document)).encode("gb18030"))
        p.start()
        start_countdown(p, "启动程序", "1", "你设置了1秒后启动程序！", self)
        self.assertEqual(wait_for(p.xdg_open_log(), timeout=20), document + "\n")
        wait_for(p.path("ran"))
        # The start stuck on the share is no part of the program any more.
        p.key("Escape")
        self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
