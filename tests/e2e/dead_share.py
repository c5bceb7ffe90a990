"""A dead network share: a FUSE file system with one file, stuck.mp3, that
lists and opens like any other but whose reads never return, and one name,
无应答.txt, whose look-up (stat, open) never returns. Run as
`python3 dead_share.py MOUNTPOINT`; killing the process ends the waits with
an error, and DeadShare.stop() also unmounts."""
import errno
import os
import stat
import subprocess
import sys
import threading
import time

SIZE = 480768


class DeadShare:
    def __init__(self, mountpoint):
        self.mountpoint = mountpoint
        os.makedirs(mountpoint, exist_ok=True)
        self.proc = subprocess.Popen(["/usr/bin/python3", os.path.abspath(__file__), mountpoint],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not os.path.exists(self.path()):
            if self.proc.poll() is not None or time.time() > deadline:
                raise AssertionError("the FUSE file system did not come up")
            time.sleep(0.05)

    def path(self):
        return os.path.join(self.mountpoint, "stuck.mp3")

    def unanswered_path(self):
        return os.path.join(self.mountpoint, "无应答.txt")

    def stop(self):
        if self.proc.poll() is not None:
            return
        self.proc.kill()
        self.proc.wait()
        subprocess.run(["fusermount", "-u", "-z", self.mountpoint], stderr=subprocess.DEVNULL)


def serve(mountpoint):
    from fusepy import FUSE, FuseOSError, Operations

    never = threading.Event()

    class Share(Operations):
        def getattr(self, path, fh=None):
            now = time.time()
            if path == "/":
                return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2, "st_ctime": now, "st_mtime": now,
                        "st_atime": now}
            if path == "/stuck.mp3":
                return {"st_mode": stat.S_IFREG | 0o644, "st_nlink": 1, "st_size": SIZE, "st_ctime": now,
                        "st_mtime": now, "st_atime": now}
            if path == "/无应答.txt":
                never.wait()
            raise FuseOSError(errno.ENOENT)

        def readdir(self, path, fh):
            return [".", "..", "stuck.mp3"]

        def read(self, path, size, offset, fh):
            never.wait()
            raise FuseOSError(errno.EIO)

    FUSE(Share(), mountpoint, foreground=True, nothreads=False)


if __name__ == "__main__":
    serve(sys.argv[1])
