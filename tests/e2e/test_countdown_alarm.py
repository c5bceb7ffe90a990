"""The real countdown timer rings its default sound through PulseAudio: a
one-second alarm is heard on a null sink, "暂停" silences it at once and
"继续" brings it back."""
import os
import time
import unittest

from desktop import Program
from pulse import NullSink, Recording

EXE = os.environ["RUVO_COUNTDOWN"]
LOUD = 300.0   # RMS of 16-bit samples: clearly sound
QUIET = 30.0   # below this: silence


class CountdownAlarm(unittest.TestCase):
    def setUp(self):
        self.program = Program(EXE, "倒计时提示")
        self.sink = NullSink(self.program.env)

    def tearDown(self):
        self.program.stop()
        self.sink.stop()

    def test_alarm_rings_pauses_and_resumes(self):
        p = self.program.start()
        p.key("ctrl+a")
        p.type("1")
        p.click("OK")
        self.assertEqual(p.close_alert(), "你设置了1秒后鸣叫！")
        self.sink.wait_for_stream()  # the alarm is due one second after the press
        rec = self.sink.record()
        time.sleep(0.8)
        p.click("暂停")
        time.sleep(1.5)
        p.click("继续")
        time.sleep(0.8)
        wall, windows = rec.stop()
        heard = [w > LOUD for w in windows]
        self.assertTrue(any(heard[:10]), "the alarm was not heard")
        self.assertTrue(any(heard[-6:]), "the sound did not come back after 继续")
        # During the pause the sink heard silence, or nothing at all.
        silent = sum(1 for w in windows if w < QUIET) * Recording.WINDOW
        missing = wall - len(windows) * Recording.WINDOW
        self.assertGreater(silent + missing, 1.0, "the sound went on through the pause")
        p.key("Escape")
        self.assertEqual(p.wait(), 0)
        self.assertFalse(os.path.exists(p.default_sound()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
