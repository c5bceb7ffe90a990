"""The countdown timer as a Chinese desktop user meets it: text entered by an
accessibility client (an on-screen keyboard) is seen by the program, the
standard buttons speak the user's language, and a copy unpacked from a Windows
archive, in a directory with a GBK-encoded name, keeps its settings and plays
its music, and a window manager that ended is not waited for."""
import ctypes
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


class Root:
    """The display's root window, through Xlib: properties set as a window
    manager leaves them, windows of our own, and the server's stacking."""

    XA_WINDOW = 33

    def __init__(self):
        x = self.x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XCreateSimpleWindow.restype = ctypes.c_ulong
        x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
            [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
        x.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                      ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        x.XDeleteProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.POINTER(ctypes.c_ulong)] * 2 + \
            [ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)), ctypes.POINTER(ctypes.c_uint)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.d = x.XOpenDisplay(None)
        self.root = x.XDefaultRootWindow(self.d)

    def window(self):
        return self.x.XCreateSimpleWindow(self.d, self.root, 0, 0, 1, 1, 0, 0, 0)

    def set_windows(self, name, windows):
        data = (ctypes.c_ulong * max(1, len(windows)))(*windows)
        self.x.XChangeProperty(self.d, self.root, self.x.XInternAtom(self.d, name.encode(), 0), self.XA_WINDOW, 32, 0,
                               data, len(windows))
        self.x.XSync(self.d, 0)

    def stacking(self):
        """The root's children, bottom to top, as decimal ids."""
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        self.x.XQueryTree(self.d, self.root, root, parent, children, n)
        order = [str(children[i]) for i in range(n.value)]
        self.x.XFree(children)
        return order

    def close(self):
        for name in ("_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST_STACKING"):
            self.x.XDeleteProperty(self.d, self.root, self.x.XInternAtom(self.d, name.encode(), 0))
        self.x.XCloseDisplay(self.d)


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

    def test_always_on_top_under_a_window_manager_that_ended_is_as_without_one(self):
        # As a killed window manager leaves the root: a check window that is
        # gone, and a stacking list that no longer changes.
        x = Root()
        self.addCleanup(x.close)
        gone = x.window()
        x.x.XDestroyWindow(x.d, gone)
        x.set_windows("_NET_SUPPORTING_WM_CHECK", [gone])
        x.set_windows("_NET_CLIENT_LIST_STACKING", [])
        self.program = Program(EXE, "倒计时提示")
        with open(self.program.path("pz.ini"), "wb") as f:
            f.write("[sz]\r\n最前=真\r\n".encode("gb18030"))
        first = self.program.start()
        second = Program(EXE, "倒计时提示")
        self.addCleanup(second.stop)
        second.start()

        def above():
            deadline = time.time() + 10
            while time.time() < deadline:
                order = x.stacking()
                if order.index(first.window) > order.index(second.window):
                    return True
                time.sleep(0.1)
            self.fail("not kept above the later window: %r" % x.stacking())

        above()
        # A check window that exists but does not name itself is no window manager either.
        x.set_windows("_NET_SUPPORTING_WM_CHECK", [x.window()])
        subprocess.run(["xdotool", "windowraise", second.window], check=True, timeout=10)
        above()
        first.assert_running()


if __name__ == "__main__":
    unittest.main(verbosity=2)
