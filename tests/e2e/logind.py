"""python-dbusmock's logind on a private bus that stands in for the system
bus: the program under test gets its address as DBUS_SYSTEM_BUS_ADDRESS."""
import ctypes
import os
import signal
import socket
import subprocess
import threading
import time

import dbus

PY = "/usr/bin/python3"
PR_SET_PDEATHSIG = 1


def _end_with_the_test():
    """A test killed on its timeout takes its bus and mock along."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class MockLogind:
    def __init__(self, tree):
        self.socket = os.path.join(tree, "sysbus.sock")
        self.address = "unix:path=" + self.socket
        self.log = os.path.join(tree, "logind-calls.log")
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        "--address=" + self.address],
                                       preexec_fn=_end_with_the_test)
        self._wait(lambda: os.path.exists(self.socket), "the private bus")
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        self.mock = subprocess.Popen([PY, "-m", "dbusmock", "--system", "--template", "logind", "-l", self.log],
                                     env=env, stdout=subprocess.DEVNULL, preexec_fn=_end_with_the_test)
        self.bus = dbus.bus.BusConnection(self.address)
        self._wait(lambda: self.bus.name_has_owner("org.freedesktop.login1"), "dbusmock's logind")
        self.manager = self.bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1")

    @staticmethod
    def _wait(ready, what, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if ready():
                return
            time.sleep(0.05)
        raise AssertionError("%s did not come up" % what)

    def mock_call(self, method, *args):
        return self.manager.get_dbus_method(method, "org.freedesktop.DBus.Mock")(*args)

    def calls(self):
        """The logged calls, each as "Method args" without its time stamp."""
        with open(self.log) as f:
            return [line.rstrip("\n").split(" ", 1)[1] for line in f if " " in line]

    def wait_for_call(self, prefix, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = [c for c in self.calls() if c.startswith(prefix)]
            if found:
                return found
            time.sleep(0.05)
        raise AssertionError("logind never got %s; calls: %r" % (prefix, self.calls()))

    def stop(self):
        for p in (self.mock, self.daemon):
            p.terminate()
            p.wait()


class HungBus:
    """A bus that accepts connections and never says a word, as a stuck bus
    daemon does."""

    def __init__(self, tree):
        path = os.path.join(tree, "hung-bus.sock")
        self.address = "unix:path=" + path
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(path)
        self.listener.listen(16)
        self.accepted = []
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while True:
            try:
                self.accepted.append(self.listener.accept()[0])
            except OSError:
                return

    def stop(self):
        self.listener.shutdown(socket.SHUT_RDWR)
        self.thread.join(timeout=10)
        for s in [self.listener] + self.accepted:
            s.close()
