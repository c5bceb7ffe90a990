"""The countdown timer as a Chinese desktop user meets it: text entered by an
accessibility client (an on-screen keyboard) is seen by the program, the
standard buttons speak the user's language, and a copy unpacked from a Windows
archive, in a directory with a GBK-encoded name, keeps its settings and plays
its music."""
import os
import time
import unittest

import pyatspi

from desktop import Program, _walk

EXE = os.environ["RUVO_COUNTDOWN"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")


def text_boxes(program):
    found = []
    _walk(program.app(), pyatspi.ROLE_TEXT, None, True, found)
    return found


class CountdownDesktop(unittest.TestCase):
    def tearDown(self):
        self.program.stop()

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
