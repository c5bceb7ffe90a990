"""Each program is one file that runs wherever it is copied: the executable
alone in a folder of its own, with the source and build trees out of its
sight, rings its default sound and plays the music chosen in the pz.ini
beside it, heard on a null sink."""
import os
import shutil
import subprocess
import unittest

import pyatspi

from desktop import Program
from pulse import NullSink
from test_kitchentimer import hears_within

COUNTDOWN = os.environ["RUVO_COUNTDOWN"]
KITCHENTIMER = os.environ["RUVO_KITCHENTIMER"]
HIDDEN = [os.environ["RUVO_BUILD_DIR"], os.environ["RUVO_SOURCE_DIR"]]
MUSIC = os.path.join(os.environ["RUVO_TEST_DATA"], "playback-long.mp3")


class CopiedProgram(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or subprocess.run(["unshare", "--mount", "true"]).returncode != 0:
            self.skipTest("hiding the build tree needs a mount namespace")
        self.program = None
        self.sink = None

    def tearDown(self):
        if self.program:
            self.program.stop()
        if self.sink:
            self.sink.stop()

    def copy(self, exe, title):
        self.program = Program(exe, title, run_name="我的程序", hidden=HIDDEN)
        # A sanitizer build reads its suppressions at exit: from outside the hidden trees.
        options = self.program.env.get("LSAN_OPTIONS", "").split(":")
        for i, option in enumerate(options):
            if option.startswith("suppressions="):
                copy = os.path.join(self.program.tree, "lsan.supp")
                shutil.copy(option.partition("=")[2], copy)
                options[i] = "suppressions=" + copy
        if options != [""]:
            self.program.env["LSAN_OPTIONS"] = ":".join(options)
        self.sink = NullSink(self.program.env)
        return self.program

    def test_copied_countdown_rings(self):
        p = self.copy(COUNTDOWN, "倒计时提示")
        self.assertEqual(os.listdir(p.run_dir), ["countdown"])
        p.start()
        p.key("ctrl+a")
        p.type("1")
        p.click("OK")
        self.assertEqual(p.close_alert(), "你设置了1秒后鸣叫！")
        self.assertTrue(hears_within(self.sink, 15), "the alarm was not heard")
        p.key("Escape")
        self.assertEqual(p.wait(), 0)

    def test_copied_kitchentimer_plays_the_chosen_music(self):
        p = self.copy(KITCHENTIMER, r"倒计时提示\(Velmora\)")
        music = os.path.join(p.tree, "home", "音乐.mp3")
        shutil.copy(MUSIC, music)
        with open(p.path("pz.ini"), "wb") as f:
            f.write(("[yy]\r\n音乐=%s\r\n" % music).encode("gb18030"))
        self.assertEqual(sorted(os.listdir(p.run_dir)), ["kitchentimer", "pz.ini"])
        p.start()
        p.click("播放")
        p.find(pyatspi.ROLE_LABEL, "播放音乐")
        self.assertTrue(hears_within(self.sink, 15), "the chosen music was not heard")
        p.key("Escape")
        self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
