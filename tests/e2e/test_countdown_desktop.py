"""The countdown timer as a Chinese desktop user meets it: text entered by an
accessibility client (an on-screen keyboard) is seen by the program, the
standard buttons speak the user's language, and a copy unpacked from a Windows
archive, in a directory with a GBK-encoded name, keeps its settings and plays
its music."""
import os
import shutil
import subprocess
import time
import unittest

import pyatspi

from desktop import Program, _walk
from pulse import NullSink

EXE = os.environ["RUVO_COUNTDOWN"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")
DATA = os.environ["RUVO_TEST_DATA"]
LOUD = 300.0


def gbk(name):
    """A name as an archive made on Windows unpacks it."""
    return os.fsdecode(name.encode("gbk"))


def shown(path):
    """How the program shows a name in the Windows code page."""
    return os.fsencode(path).decode("gbk")


def text_boxes(program):
    found = []
    _walk(program.app(), pyatspi.ROLE_TEXT, None, True, found)
    return found


class CountdownDesktop(unittest.TestCase):
    sink = None

    def tearDown(self):
        self.program.stop()
        if self.sink:
            self.sink.stop()

    def test_text_set_by_an_accessibility_client_is_the_delay(self):
        self.program = Program(EXE, "倒计时提示", env={"LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"})
        p = self.program.start()
        # The delay box is the topmost box of its page.
        delay = min(text_boxes(p), key=lambda b: b.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)[1])
        self.assertTrue(delay.queryEditableText().setTextContents("7"))
        p.click("OK")
        alert = p.find(pyatspi.ROLE_ALERT, None, showing=False)
        buttons = []
        _walk(alert, pyatspi.ROLE_PUSH_BUTTON, None, False, buttons)
        self.assertEqual([b.name for b in buttons], ["确定"])
        self.assertEqual(p.close_alert(), "你设置了7秒后鸣叫！")
        time.sleep(0.5)  # the box is gone before Escape goes to the window
        p.key("Escape")
        self.assertEqual(p.wait(), 0)


    def test_a_copy_unpacked_from_a_windows_archive_keeps_its_settings_and_plays(self):
        self.program = Program(EXE, "倒计时提示", run_name=gbk("计时器"))
        p = self.program
        song, bell = p.path(gbk("歌曲.mp3")), p.path(gbk("铃声.mp3"))
        shutil.copy(os.path.join(DATA, "playback-long.mp3"), song)
        shutil.copy(os.path.join(DATA, "playback-a.mp3"), bell)
        with open(p.path("pz.ini"), "wb") as f:
            f.write(b"[yy]\r\n" + "音乐=".encode("gbk") + os.fsencode(song) + b"\r\n")
        self.sink = NullSink(p.env)
        p.start()

        music = [b for b in text_boxes(p) if b.queryText().getText(0, -1) == shown(song)]
        self.assertEqual(len(music), 1, "the music path was not read from pz.ini")
        rec = self.sink.record()
        p.click("播放")
        time.sleep(3)  # room for a slow start on a busy machine
        _, windows = rec.stop()
        self.assertTrue(any(w > LOUD for w in windows), "the music was not heard")
        p.click("暂停")

        # The dialog does not list such a name; typed in full it is taken.
        p.click("打开")
        dialog = p.find(pyatspi.ROLE_DIALOG, "音乐文件")
        fields = []
        _walk(dialog, pyatspi.ROLE_TEXT, None, True, fields)
        name = max(fields, key=lambda b: b.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)[1])  # the lowest
        self.assertTrue(name.queryEditableText().setTextContents(shown(bell)))
        p.key_to("音乐文件", "Return")
        deadline = time.time() + 10
        while time.time() < deadline and music[0].queryText().getText(0, -1) != shown(bell):
            time.sleep(0.1)
        self.assertEqual(music[0].queryText().getText(0, -1), shown(bell))
        with open(p.path("pz.ini"), "rb") as f:
            self.assertIn("音乐=".encode("gbk") + os.fsencode(bell), f.read())
        p.key("Escape")
        self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
