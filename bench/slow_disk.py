"""A slow disk, as a network home is one: a FUSE file system that passes every
call through to a folder and makes each fsync take 40 ms. Run as
`python3 slow_disk.py FOLDER MOUNTPOINT`; it serves until unmounted
(`fusermount -u MOUNTPOINT`) or killed."""
import errno
import os
import sys
import time

FSYNC_SECONDS = 0.040


def serve(root, mountpoint):
    from fusepy import FUSE, FuseOSError, Operations

    class Slow(Operations):
        def __init__(self):
            self.root = root

        def _path(self, path):
            return os.path.join(self.root, path.lstrip("/"))

        def __call__(self, op, path, *args):
            try:
                return super().__call__(op, path, *args)
            except OSError as e:
                raise FuseOSError(e.errno or errno.EIO)

        def access(self, path, mode):
            if not os.access(self._path(path), mode):
                raise FuseOSError(errno.EACCES)

        def getattr(self, path, fh=None):
            st = os.fstat(fh) if fh is not None else os.lstat(self._path(path))
            return {key: getattr(st, key) for key in ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size",
                                                      "st_atime", "st_mtime", "st_ctime", "st_ino")}

        def readdir(self, path, fh):
            return [".", ".."] + os.listdir(self._path(path))

        def readlink(self, path):
            return os.readlink(self._path(path))

        def statfs(self, path):
            st = os.statvfs(self._path(path))
            return {key: getattr(st, key) for key in ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail",
                                                      "f_ffree", "f_files", "f_flag", "f_frsize", "f_namemax")}

        def chmod(self, path, mode):
            os.chmod(self._path(path), mode)

        def chown(self, path, uid, gid):
            os.chown(self._path(path), uid, gid)

        def mkdir(self, path, mode):
            os.mkdir(self._path(path), mode)

        def rmdir(self, path):
            os.rmdir(self._path(path))

        def unlink(self, path):
            os.unlink(self._path(path))

        def symlink(self, target, source):
            os.symlink(source, self._path(target))

        def link(self, target, source):
            os.link(self._path(source), self._path(target))

        def rename(self, old, new):
            os.rename(self._path(old), self._path(new))

        def utimens(self, path, times=None):
            os.utime(self._path(path), times)

        def open(self, path, flags):
            return os.open(self._path(path), flags)

        def create(self, path, mode, fi=None):
            return os.open(self._path(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

        def read(self, path, size, offset, fh):
            return os.pread(fh, size, offset)

        def write(self, path, data, offset, fh):
            return os.pwrite(fh, data, offset)

        def truncate(self, path, length, fh=None):
            if fh is not None:
                os.ftruncate(fh, length)
            else:
                os.truncate(self._path(path), length)

        def flush(self, path, fh):
            return 0

        def release(self, path, fh):
            os.close(fh)

        def fsync(self, path, datasync, fh):
            time.sleep(FSYNC_SECONDS)
            os.fsync(fh)

    FUSE(Slow(), mountpoint, foreground=True, nothreads=False, allow_other=True, use_ino=True)


if __name__ == "__main__":
    serve(os.path.abspath(sys.argv[1]), sys.argv[2])
