"""A FUSE file system over a folder that reports every file written through
it as failed when the file is closed, as NFS does when the server turns
the writes down only at write-back: each write is taken, the close says EIO.

    fails_at_close.py FOLDER MOUNT_POINT

returns once it is mounted; unmounting ends it.
"""

import errno
import os
import sys

from fusepy import FUSE, FuseOSError, Operations


class FailsAtClose(Operations):
    def __init__(self, root):
        self.root = root
        self.written = set()  # the open files a write went to

    def _path(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def getattr(self, path, fh=None):
        status = os.lstat(self._path(path))
        keys = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime", "st_mtime",
                "st_ctime", "st_blocks", "st_ino")
        return {key: getattr(status, key) for key in keys}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def statfs(self, path):
        room = os.statvfs(self._path(path))
        keys = ("f_bsize", "f_frsize", "f_blocks", "f_bfree", "f_bavail", "f_files", "f_ffree",
                "f_namemax")
        return {key: getattr(room, key) for key in keys}

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        self.written.add(fh)
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def flush(self, path, fh):
        if fh in self.written:
            raise FuseOSError(errno.EIO)

    def release(self, path, fh):
        self.written.discard(fh)
        os.close(fh)

    def unlink(self, path):
        os.unlink(self._path(path))

    def mkdir(self, path, mode):
        os.mkdir(self._path(path), mode)


if __name__ == "__main__":
    # hard_remove: a file removed while open goes at once, not renamed aside.
    FUSE(FailsAtClose(sys.argv[1]), sys.argv[2], foreground=False, allow_other=True,
         big_writes=True, hard_remove=True)
