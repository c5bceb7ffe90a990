"""The countdown timer on other desktops: under a dark colour scheme (KDE's,
GTK's) what the user types, the black captions and the violet links keep
their colours and read, also after the desktop switches scheme while the
program runs; and a message box or the file dialog is transient for the
window it blocks, in the middle of the screen where it always opened."""
import collections
import os
import subprocess
import tempfile
import time
import unittest

import pyatspi

from desktop import Program, WindowManager, _walk, click_point

EXE = os.environ["RUVO_COUNTDOWN"]
SHOTS = os.environ.get("RUVO_SCREENSHOTS", ".")
TITLE = "倒计时提示"

# Breeze Dark, as KDE writes it.
DARK_KDEGLOBALS = "".join(
    "[Colors:%s]\nBackgroundNormal=%s\nForegroundNormal=239,240,241\n\n" % (group, back)
    for group, back in (("Window", "49,54,59"), ("View", "35,38,41"), ("Button", "49,54,59"),
                        ("Selection", "61,174,233")))


def luminance(rgb):
    def linear(c):
        c /= 255
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (linear(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    hi, lo = sorted((luminance(a), luminance(b)), reverse=True)
    return (hi + 0.05) / (lo + 0.05)


def legibility(shot, extents, inset=0):
    """WCAG contrast between an area's two most common colours, its background
    and its text (drawn solid, so a caret's few pixels do not count); the
    inset leaves out a frame."""
    x, y, w, h = extents
    raw = subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (w - 2 * inset, h - 2 * inset, x + inset, y + inset),
                          "+repage", "rgb:-"], check=True, capture_output=True, timeout=30).stdout
    pixels = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
    (background, _), (ink, _) = collections.Counter(pixels).most_common(2)
    return contrast(background, ink)


def xprop(*args):
    return subprocess.run(["xprop", *args], capture_output=True, text=True, timeout=10).stdout


def geometry(window):
    out = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True, check=True, timeout=10).stdout
    values = dict(line.strip().partition(":")[::2] for line in out.splitlines() if ":" in line)
    return tuple(int(values[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


class DarkSchemes(unittest.TestCase):
    def tearDown(self):
        self.program.stop()

    @staticmethod
    def type_texts(p):
        p.type("123")  # the delay box has the focus
        p.click_text(1)  # the music box
        p.type("/home/music/alarm.mp3")
        time.sleep(0.3)

    def assert_every_text_reads(self, p, shot):
        subprocess.run(["import", "-window", "root", shot], check=True, timeout=30)
        boxes = []
        _walk(p.app(), pyatspi.ROLE_TEXT, None, True, boxes)
        boxes.sort(key=lambda b: b.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)[1])
        self.assertEqual([b.queryText().getText(0, -1) for b in boxes[:2]], ["123", "/home/music/alarm.mp3"])
        areas = {"typed digits": (boxes[0], 3), "typed path": (boxes[1], 3),
                 "black caption": (p.find(pyatspi.ROLE_LABEL, "设置几秒后鸣叫："), 0),
                 "link": (p.find(pyatspi.ROLE_LABEL, " 程序用途 "), 0)}
        for what, (node, inset) in areas.items():
            extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            self.assertGreaterEqual(legibility(shot, extents, inset), 4.5, "%s in %s" % (what, shot))

    def test_every_text_reads_under_kdes_dark_scheme(self):
        self.program = Program(EXE, TITLE, env={"XDG_CURRENT_DESKTOP": "KDE", "KDE_SESSION_VERSION": "5"})
        with open(os.path.join(self.program.tree, "config", "kdeglobals"), "w") as f:
            f.write(DARK_KDEGLOBALS)
        p = self.program.start()
        self.type_texts(p)
        self.assert_every_text_reads(p, os.path.join(SHOTS, "countdown-kde-dark.png"))

    def test_every_text_reads_under_gtks_dark_theme_and_after_a_switch_of_theme(self):
        # An XSETTINGS manager through which the desktop switches GTK's theme.
        settings = tempfile.NamedTemporaryFile("w", suffix=".conf")
        self.addCleanup(settings.close)
        settings.write('Net/ThemeName "Adwaita"\n')
        settings.flush()
        xsettings = subprocess.Popen(["xsettingsd", "-c", settings.name], stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (xsettings.terminate(), xsettings.wait()))
        self.program = Program(EXE, TITLE, env={"QT_QPA_PLATFORMTHEME": "gtk3", "GTK_THEME": "Adwaita:dark",
                                                "NO_AT_BRIDGE": "1"})  # GTK's own would hide Qt's
        p = self.program.start()
        self.type_texts(p)
        self.assert_every_text_reads(p, os.path.join(SHOTS, "countdown-gtk-dark.png"))

        settings.seek(0)
        settings.truncate()
        settings.write('Net/ThemeName "Adwaita-dark"\n')
        settings.flush()
        xsettings.send_signal(1)  # SIGHUP: read the settings again and tell every client
        time.sleep(1)
        self.assert_every_text_reads(p, os.path.join(SHOTS, "countdown-gtk-dark-switched.png"))


class Boxes(unittest.TestCase):
    def setUp(self):
        self.wm = WindowManager("openbox", "--sm-disable")
        self.program = Program(EXE, TITLE)

    def tearDown(self):
        self.program.stop()
        self.wm.stop()

    def assert_owned_and_in_the_middle(self, window, main):
        self.assertIn("window id # " + hex(int(main)), xprop("-id", window, "WM_TRANSIENT_FOR"))
        x, y, w, h = geometry(window)
        self.assertLess(abs(x + w // 2 - 512) + abs(y + h // 2 - 384), 40, "not in the middle of the screen")

    def test_a_box_and_the_file_dialog_are_transient_for_the_window_they_block(self):
        p = self.program.start()
        # Away from the middle, so that a box placed over it would show.
        subprocess.run(["xdotool", "windowmove", "--sync", p.window, "0", "0"], check=True, timeout=10)
        p.click("OK")  # without a delay
        box = p.window_titled("信息：", timeout=10)
        self.assert_owned_and_in_the_middle(box, p.window)
        subprocess.run(["import", "-window", "root", os.path.join(SHOTS, "countdown-box-openbox.png")], check=True,
                       timeout=30)
        # A click on the blocked window, which a window manager raises, leaves the box in sight.
        click_point(60, 60)
        time.sleep(0.5)
        order = xprop("-root", "_NET_CLIENT_LIST_STACKING").partition("#")[2].replace(",", " ").split()
        self.assertGreater(order.index(hex(int(box))), order.index(hex(int(p.window))))
        self.assertEqual(p.close_alert(), "你未输入时间！")
        deadline = time.time() + 10
        while subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(p.proc.pid), "."], capture_output=True,
                             text=True, timeout=10).stdout.split().count(box) and time.time() < deadline:
            time.sleep(0.1)  # a click reaches the window only once the box is gone

        p.click("打开")
        dialog = p.window_titled("音乐文件", timeout=10)
        self.assert_owned_and_in_the_middle(dialog, p.window)
        subprocess.run(["import", "-window", "root", os.path.join(SHOTS, "countdown-file-dialog-openbox.png")],
                       check=True, timeout=30)
        p.key_to("音乐文件", "Escape")
        p.assert_running()


if __name__ == "__main__":
    unittest.main(verbosity=2)
