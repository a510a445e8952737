#!/usr/bin/env python3
"""Boots a disk image in QEMU without a display, the first serial port on standard output, and
reports whether the Halcyra banner appears within the time limit. The image is not changed
(the run uses a snapshot). Exit code 0 when the banner was seen, 1 otherwise."""

import argparse
import os
import select
import subprocess
import sys
import time

BANNER = b"HALCYRA boot medium"


def boots(image, timeout=30.0, qemu="qemu-system-x86_64"):
    """(seen, serial output) for one bounded boot of `image`."""
    command = [qemu, "-display", "none", "-nodefaults", "-no-reboot", "-snapshot", "-m", "32",
               "-serial", "stdio", "-drive", "file=%s,format=raw,if=ide,index=0" % image,
               "-boot", "c"]
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    output = b""
    deadline = time.monotonic() + timeout
    try:
        while BANNER not in output:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([process.stdout], [], [], min(left, 0.5))
            if ready:
                data = os.read(process.stdout.fileno(), 4096)
                if not data:
                    break
                output += data
    finally:
        process.kill()
        process.wait()
        process.stdout.close()
    return BANNER in output, output.decode("latin-1")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("image")
    parser.add_argument("--timeout", type=float, default=30.0, help="seconds")
    args = parser.parse_args()
    seen, output = boots(args.image, args.timeout)
    sys.stdout.write(output)
    print("\nboot check: %s" % ("banner seen" if seen else "no banner within %gs" % args.timeout))
    return 0 if seen else 1


if __name__ == "__main__":
    sys.exit(main())
