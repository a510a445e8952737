#!/usr/bin/python3
"""A USB stick as the system sees it, served through FUSE as one file, "disk", in a folder:

    fake_stick.py MOUNTPOINT --size BYTES [--keep BYTES] [--forget] [--delay-ms MS] [--fill HEX]
                  [--corrupt OFFSET] [--fail-after BYTES [--fail-errno NAME]]

--size    the capacity the stick reports (the file's size); writes past it fail (ENOSPC)
--keep    what it really stores: every offset past it wraps onto the start, as on a
          counterfeit stick, and each write still "succeeds"
--forget  it stores nothing: writes are accepted, and reads give zeros
--delay-ms  every read and write takes this long, like a slow stick, so that a test can act
          during the write or the read-back; a request given up by the system (its process is
          ending) stops waiting, as the requests of a real device are cancelled
--fill    the byte the stick holds at the start (default ee)
--corrupt the byte at this offset is stored but always reads back with its bits flipped, like a
          failing cell
--fail-after  it takes the writes below this offset, then refuses every write that reaches it
          with --fail-errno (EIO by default; EACCES, ENODEV, ENXIO...): a stick that a guard
          program starts to refuse, that is pulled out or fails during the write

Prints "READY" once mounted; runs until unmounted (fusermount -u / umount) or killed.
Run it with /usr/bin/python3, which sees Debian's fusepy.
"""

import argparse
import errno
import os
import stat
import sys
import threading
import time

import fusepy
from fusepy import FUSE, FuseOSError, Operations


class Stick(Operations):
    def __init__(self, size, keep, forget, delay, fill, corrupt=-1, fail_after=-1,
                 fail_errno=errno.EIO):
        self.size, self.keep, self.forget, self.delay = size, keep, forget, delay
        self.corrupt, self.fail_after, self.fail_errno = corrupt, fail_after, fail_errno
        self.data = bytearray([fill]) * keep
        self.guard = threading.Lock()
        self.now = time.time()

    def getattr(self, path, fh=None):
        if path == "/":
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2, st_ctime=self.now,
                        st_mtime=self.now, st_atime=self.now)
        if path != "/disk":
            raise FuseOSError(errno.ENOENT)
        return dict(st_mode=stat.S_IFREG | 0o666, st_nlink=1, st_size=self.size,
                    st_ctime=self.now, st_mtime=self.now, st_atime=self.now)

    def readdir(self, path, fh):
        return [".", "..", "disk"]

    def open(self, path, flags):
        if path != "/disk":
            raise FuseOSError(errno.ENOENT)
        return 0

    def truncate(self, path, length, fh=None):
        return 0  # the capacity is fixed

    def pieces(self, offset, length):
        """(stored offset, start in the request, length) pieces, wrapping past `keep`."""
        done = 0
        while done < length:
            at = (offset + done) % self.keep
            n = min(length - done, self.keep - at)
            yield at, done, n
            done += n

    def wait(self):
        """The stick's delay; an interrupted request fails at once (EINTR)."""
        end = time.monotonic() + self.delay
        while time.monotonic() < end:
            time.sleep(min(0.05, max(0.0, end - time.monotonic())))
            if fusepy._libfuse.fuse_interrupted():
                raise FuseOSError(errno.EINTR)

    def read(self, path, length, offset, fh):
        if self.delay:
            self.wait()
        length = max(0, min(length, self.size - offset))
        if self.forget:
            return bytes(length)
        out = bytearray(length)
        with self.guard:
            for at, start, n in self.pieces(offset, length):
                out[start:start + n] = self.data[at:at + n]
        if offset <= self.corrupt < offset + length:
            out[self.corrupt - offset] ^= 0xFF
        return bytes(out)

    def write(self, path, data, offset, fh):
        if self.delay:
            self.wait()
        if 0 <= self.fail_after < offset + len(data):
            raise FuseOSError(self.fail_errno)
        if offset + len(data) > self.size:
            raise FuseOSError(errno.ENOSPC)
        if not self.forget:
            with self.guard:
                for at, start, n in self.pieces(offset, len(data)):
                    self.data[at:at + n] = data[start:start + n]
        return len(data)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return 0

    def release(self, path, fh):
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mountpoint")
    parser.add_argument("--size", type=int, required=True)
    parser.add_argument("--keep", type=int, default=0)
    parser.add_argument("--forget", action="store_true")
    parser.add_argument("--delay-ms", type=float, default=0)
    parser.add_argument("--fill", default="ee")
    parser.add_argument("--corrupt", type=int, default=-1)
    parser.add_argument("--fail-after", type=int, default=-1)
    parser.add_argument("--fail-errno", default="EIO", choices=sorted(errno.errorcode.values()))
    args = parser.parse_args()
    stick = Stick(args.size, args.keep or args.size, args.forget, args.delay_ms / 1000.0,
                  int(args.fill, 16), args.corrupt, args.fail_after,
                  getattr(errno, args.fail_errno))
    threading.Timer(0.5, lambda: (print("READY", flush=True))).start()
    FUSE(stick, args.mountpoint, foreground=True, nothreads=False, big_writes=True,
         max_write=131072, direct_io=True, intr=True)


if __name__ == "__main__":
    sys.exit(main())
