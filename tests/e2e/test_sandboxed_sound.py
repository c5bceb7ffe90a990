"""The kitchen timer rings in a sandbox: where a system-call filter refuses
memfd_create its alarm is heard, and where /proc is not mounted its default
music plays. The file the player is then loaded from is gone at once: nothing
is left in the private folder."""
import os
import subprocess
import unittest

import pyatspi

from desktop import Program
from pulse import NullSink
from test_kitchentimer import TITLE, hears_within

EXE = os.environ["RUVO_KITCHENTIMER"]
WITHOUT_MEMFD = os.environ["RUVO_WITHOUT_MEMFD"]
WITHOUT_PROC = ["unshare", "--mount", "--propagation", "private",
                "sh", "-c", 'mount -t tmpfs none /proc || exit 125; exec "$@"', "sh"]


class SandboxedSound(unittest.TestCase):
    def start(self, wrapper):
        p = Program(EXE, TITLE.replace("(", r"\(").replace(")", r"\)"), wrapper=wrapper)
        self.sink = NullSink(p.env)
        self.addCleanup(self.sink.stop)
        self.addCleanup(p.stop)
        p.start()
        # The player's private folder is the runtime folder.
        self.before = sorted(os.listdir(p.xdg))
        return p

    def end(self, p):
        self.assertEqual(sorted(os.listdir(p.xdg)), self.before, "a file was left beside the default sound")
        p.key("Escape")
        return p.wait()

    def test_alarm_rings_where_memfd_create_is_refused(self):
        p = self.start([WITHOUT_MEMFD])
        p.key("ctrl+a")
        p.type("1")
        p.click("秒", role=pyatspi.ROLE_CHECK_BOX)
        p.click("OK")
        self.assertEqual(p.close_alert(), "你设置了1秒后鸣叫！")
        self.assertTrue(hears_within(self.sink, 15), "the alarm was not heard")
        self.assertEqual(self.end(p), 0)

    def test_default_music_plays_without_proc(self):
        if os.geteuid() != 0 or subprocess.run(WITHOUT_PROC + ["true"]).returncode != 0:
            self.skipTest("hiding /proc needs a mount namespace")
        p = self.start(WITHOUT_PROC)
        p.click("播放")
        p.find(pyatspi.ROLE_LABEL, "默认音乐")
        self.assertTrue(hears_within(self.sink, 15), "the default music was not heard")
        # Not its exit code: a sanitizer build's leak check fails without /proc.
        self.end(p)


if __name__ == "__main__":
    unittest.main(verbosity=2)
