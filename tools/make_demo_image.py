#!/usr/bin/env python3
"""Builds the demo boot image: the boot sector of make_demo_image.asm followed by filler
sectors up to the requested size, so that a write of it takes many 64 KiB chunks and ends in a
partial one. Every filler sector names its own number, which makes a misplaced chunk easy to
spot in a comparison. With --sparse the boot sector is followed by zeros kept as a hole, for
images of several GiB. Either way the image carries the boot signature 0x55 0xAA at offsets
510 and 511, which the program checks before it writes anything."""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SIZE = 4 * 1024 * 1024 + 12345


def filler_sector(number):
    line = ("Halcyra demo image, sector %08d\n" % number).encode()
    return (line * (512 // len(line) + 1))[:512]


def boot_sector(nasm="nasm"):
    """The demo's boot sector: 512 bytes ending in the boot signature 0x55 0xAA."""
    with tempfile.TemporaryDirectory() as work:
        boot = os.path.join(work, "boot.bin")
        subprocess.run([nasm, "-f", "bin", os.path.join(HERE, "make_demo_image.asm"), "-o", boot],
                       check=True)
        with open(boot, "rb") as f:
            sector = f.read()
    if len(sector) != 512 or sector[510:] != b"\x55\xaa":
        raise SystemExit("the boot sector is not 512 bytes with its signature")
    return sector


def build(output, size, nasm="nasm"):
    sector = boot_sector(nasm)
    if size < 512:
        raise SystemExit("the image needs at least its boot sector")
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output + ".part", "wb") as out:
        out.write(sector)
        written, number = 512, 1
        while written < size:
            data = filler_sector(number)[:size - written]
            out.write(data)
            written += len(data)
            number += 1
    os.replace(output + ".part", output)


def build_sparse(output, size, nasm="nasm"):
    """The boot sector followed by zeros up to `size` bytes, stored as a hole: an image of
    several GiB that takes no room on disk."""
    sector = boot_sector(nasm)
    if size < 512:
        raise SystemExit("the image needs at least its boot sector")
    with open(output + ".part", "wb") as out:
        out.write(sector)
        out.truncate(size)
    os.replace(output + ".part", output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("--size", type=int, default=DEFAULT_SIZE, help="bytes (default %(default)s)")
    parser.add_argument("--sparse", action="store_true",
                        help="zeros after the boot sector, stored as a hole")
    args = parser.parse_args()
    (build_sparse if args.sparse else build)(args.output, args.size)
    return 0


if __name__ == "__main__":
    sys.exit(main())
