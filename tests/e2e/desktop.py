"""Runs a real program on the X display of the test (xvfb-run) and drives it
as a person would: keys through xdotool, widgets through the accessibility
bus (AT-SPI). Each program runs from a private copy of its executable, with
HOME, XDG_RUNTIME_DIR and XDG_CONFIG_HOME in a fresh temporary tree."""
import os
import re
import shutil
import subprocess
import tempfile
import time

import pyatspi


class Program:
    def __init__(self, executable, title, env=None, run_name="run", hidden=(), wrapper=()):
        self.tree = tempfile.mkdtemp(prefix="ruvo-e2e-")
        self.run_dir = os.path.join(self.tree, run_name)
        self.xdg = os.path.join(self.tree, "xdg")
        for d in (self.run_dir, self.xdg, os.path.join(self.tree, "home"), os.path.join(self.tree, "config")):
            os.makedirs(d, mode=0o700)
        self.exe = os.path.join(self.run_dir, os.path.basename(executable))
        shutil.copy2(executable, self.exe)
        self.title = title
        self.env = dict(os.environ)
        self.env.update({
            "HOME": os.path.join(self.tree, "home"),
            "XDG_RUNTIME_DIR": self.xdg,
            "XDG_CONFIG_HOME": os.path.join(self.tree, "config"),
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        self.env.pop("QT_QPA_PLATFORM", None)
        # Never a real application or a real logind: a stub xdg-open that logs
        # comes first on PATH, and the system bus is a socket nobody serves
        # unless the test puts a mock there.
        bin_dir = os.path.join(self.tree, "bin")
        os.makedirs(bin_dir, mode=0o700)
        stub = os.path.join(bin_dir, "xdg-open")
        with open(stub, "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" >> %s.tmp\nmv %s.tmp %s\n"
                    % ((self.xdg_open_log(),) * 3))
        os.chmod(stub, 0o700)
        self.env["PATH"] = bin_dir + ":" + self.env.get("PATH", "/usr/bin:/bin")
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.tree, "no-system-bus")
        if env:
            self.env.update(env)
        # Folders the program must not see, such as the build tree: an empty
        # file system over each, in a mount namespace of the program's own.
        self.hidden = list(hidden)
        # A command that runs the program in a sandbox of the test's, then execs it.
        self.wrapper = list(wrapper)
        self.proc = None
        self.window = None

    def start(self):
        self.launch()
        # Its own shown window whose title matches (a regular expression): another
        # program's window may bear the same title, and xdotool's --name does not
        # match CJK titles reliably.
        deadline = time.time() + 30
        while time.time() < deadline:
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid)],
                                 capture_output=True, text=True, timeout=10)
            for wid in out.stdout.split():
                name = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True, text=True, timeout=10)
                if re.fullmatch(self.title, name.stdout.rstrip("\n")):
                    self.window = wid
                    return self
            self.assert_running()
            time.sleep(0.1)
        raise AssertionError("the window %r never appeared" % self.title)

    def launch(self):
        """Starts the program without waiting for its window."""
        command = [self.exe]
        if self.hidden:
            script = 'exe=$1; shift; for d; do mount -t tmpfs -o ro,size=4k hidden "$d" || exit 125; done; exec "$exe"'
            command = ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh", self.exe,
                       *self.hidden]
        self.proc = subprocess.Popen([*self.wrapper, *command], env=self.env, cwd="/")
        return self

    def path(self, name):
        return os.path.join(self.run_dir, name)

    def xdg_open_log(self):
        return os.path.join(self.tree, "xdg-open.log")

    def default_sound(self):
        return os.path.join(self.xdg, "mryy.ruvo")

    def screenshot(self, target):
        subprocess.run(["import", "-window", self.window, target], check=True, timeout=30)

    def key(self, *keys):
        self.assert_running()
        subprocess.run(["xdotool", "windowfocus", "--sync", self.window], check=True, timeout=10)
        # Real key presses to the focused window: events sent to a window id
        # (--window) were now and then refused by the server.
        subprocess.run(["xdotool", "key", *keys], check=True, timeout=10)

    def window_titled(self, title, timeout=0):
        """Another shown window of the program, such as a box or dialog, by its title."""
        deadline = time.time() + timeout
        while True:
            self.assert_running()
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid), "."],
                                 capture_output=True, text=True, timeout=10)
            for wid in out.stdout.split():
                name = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True, text=True, timeout=10)
                if name.stdout.strip() == title:
                    return wid
            if time.time() >= deadline:
                raise AssertionError("no window titled %r" % title)
            time.sleep(0.1)

    def key_to(self, title, *keys):
        """Keys to another window of the program, such as a dialog, found by its title."""
        wid = self.window_titled(title)
        subprocess.run(["xdotool", "windowfocus", "--sync", wid], check=True, timeout=10)
        subprocess.run(["xdotool", "key", *keys], check=True, timeout=10)

    def assert_running(self):
        code = self.proc.poll()
        if code is not None:
            raise AssertionError("the program ended on its own with exit code %d" % code)

    def type(self, text):
        subprocess.run(["xdotool", "windowfocus", "--sync", self.window], check=True, timeout=10)
        subprocess.run(["xdotool", "type", "--delay", "30", text], check=True, timeout=10)

    def wait(self, timeout=20):
        return self.proc.wait(timeout=timeout)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.tree, ignore_errors=True)

    # Accessibility

    def app(self, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                try:
                    if a is not None and a.get_process_id() == self.proc.pid:
                        return a
                except Exception:
                    pass
            time.sleep(0.1)
        raise AssertionError("the program never appeared on the accessibility bus")

    def find(self, role, name=None, showing=True, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = []
            _walk(self.app(), role, name, showing, found)
            if found:
                return found[0]
            time.sleep(0.1)
        raise AssertionError("no %s named %r" % (role, name))

    def click(self, name, role=pyatspi.ROLE_PUSH_BUTTON):
        """A real mouse click in the middle of the widget, so the focus moves as it would."""
        node = self.find(role, name)
        x, y, w, h = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        click_point(x + w // 2, y + h // 2)

    def click_text(self, index):
        """Clicks the index-th shown edit box, counted from the top."""
        deadline = time.time() + 10
        boxes = []
        while time.time() < deadline and len(boxes) <= index:
            boxes = []
            _walk(self.app(), pyatspi.ROLE_TEXT, None, True, boxes)
            time.sleep(0.1)
        extents = sorted((b.queryComponent().getExtents(pyatspi.DESKTOP_COORDS) for b in boxes),
                         key=lambda e: (e[1], e[0]))
        x, y, w, h = extents[index]
        click_point(x + w // 2, y + h // 2)

    def close_alert(self, timeout=10):
        """Closes the message box that is open and gives its text."""
        alert = self.find(pyatspi.ROLE_ALERT, None, showing=False, timeout=timeout)
        texts = []
        _walk(alert, pyatspi.ROLE_LABEL, None, False, texts)
        message = " ".join(t.name for t in texts if t.name)
        buttons = []
        _walk(alert, pyatspi.ROLE_PUSH_BUTTON, None, False, buttons)
        buttons[0].queryAction().doAction(0)
        return message


def click_point(x, y):
    """A real click at a point of the screen. xdotool's --sync waits for the
    pointer to arrive, for ever where it stands there already."""
    here = subprocess.run(["xdotool", "getmouselocation", "--shell"], capture_output=True, text=True, check=True,
                          timeout=10).stdout
    move = [] if "X=%d\nY=%d\n" % (x, y) in here else ["mousemove", "--sync", str(x), str(y)]
    subprocess.run(["xdotool", *move, "click", "1"], check=True, timeout=10)


class WindowManager:
    """A window manager on the test's display, with its settings in a private folder."""

    def __init__(self, *command):
        self.tree = tempfile.mkdtemp(prefix="ruvo-wm-")
        env = dict(os.environ, HOME=self.tree, XDG_CONFIG_HOME=self.tree, XDG_CACHE_HOME=self.tree)
        # A manager that ended before (an earlier test on this display) leaves
        # its check on the root: without this, the new one would count as up
        # while it starts, and it loses a window mapped meanwhile.
        subprocess.run(["xprop", "-root", "-remove", "_NET_SUPPORTING_WM_CHECK"], check=True, timeout=10)
        self.proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while "window id" not in subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True,
                                                text=True, timeout=10).stdout:
            if time.time() > deadline or self.proc.poll() is not None:
                raise AssertionError("%s did not come up" % command[0])
            time.sleep(0.1)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        shutil.rmtree(self.tree, ignore_errors=True)


def _walk(node, role, name, showing, found):
    try:
        if node is None:
            return
        if node.getRole() == role and (name is None or node.name == name):
            if not showing or node.getState().contains(pyatspi.STATE_SHOWING):
                found.append(node)
        for i in range(node.childCount):
            _walk(node.getChildAtIndex(i), role, name, showing, found)
    except Exception:
        pass  # objects of a closing window vanish while they are read
