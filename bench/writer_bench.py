"""Throughput of the raw image writer under Wine against dd, on the same kind of target.

Writes one 256 MiB image three ways, each onto a fresh file-backed disk in the same folder:
  writer   ImageWriter through writer_probe.exe, the file linked as \\\\.\\PHYSICALDRIVE1
  direct   dd bs=64K oflag=direct   (the writer's chunk size, past the page cache)
  buffered dd bs=4M                 (into the page cache)
and prints the throughputs and the writer's ratio to each dd. The writer's figure is given
twice: for the chunk stream (first to last progress line), and from the start of the call to
the last chunk on the disk, which also holds the one-second pause before the volume lock and
the opening of the devices. The time after the last chunk (releasing the devices and the
success message, which the probe answers at once) is printed on its own.

    HALCYRA_WIN64_DIR=build/win64 python3 bench/writer_bench.py [--mib 256] [--dir /tmp]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))
from harness import WineSession  # noqa: E402

MIB = 1024 * 1024
CHUNK = 65536


def fresh_disk(path, size):
    with open(path, "wb") as f:
        f.truncate(size)


def dd(image, target, *options):
    start = time.perf_counter()
    subprocess.run(["dd", "if=" + image, "of=" + target, "conv=notrunc", "status=none"] + list(options),
                   check=True)
    return time.perf_counter() - start


def same_start(image, target, size):
    with open(image, "rb") as a, open(target, "rb") as b:
        while size > 0:
            n = min(size, 16 * MIB)
            if a.read(n) != b.read(n):
                return False
            size -= n
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--dir", default=None, help="folder of the targets (default: a temp folder)")
    args = parser.parse_args()
    size = args.mib * MIB
    work = tempfile.mkdtemp(prefix="writer-bench-", dir=args.dir)
    image = os.path.join(work, "image.bin")
    with open(image, "wb") as f:
        for _ in range(args.mib):
            f.write(os.urandom(MIB))
    disk_size = size + MIB

    with WineSession("writer-bench", virtual_desktop=False) as s:
        volume = os.path.join(work, "volume.img")
        fresh_disk(volume, MIB)
        writer_disk = os.path.join(work, "disk_writer.img")
        fresh_disk(writer_disk, disk_size)
        s.add_removable_drive("E", volume_file=volume, disk_file=writer_disk, disk_number=1)
        s.restart_driver()
        code, out = s.run_tool("writer_probe.exe", ["--drive", "E", "--image", "Z:" + image.replace("/", "\\")],
                               env={"HALCYRA_PROBE_ANSWERS": "ok"}, timeout=1800)
    report = dict(line.split("\t", 1) for line in out.splitlines() if line.count("\t") == 1)
    if code != 0 or report.get("result") != "1":
        sys.exit("the writer did not succeed:\n" + out)
    if not same_start(image, writer_disk, size):
        sys.exit("the writer's disk does not hold the image")
    stream_s = int(report["stream_ms"]) / 1000.0
    to_last_s = (int(report["lead_ms"]) + int(report["stream_ms"])) / 1000.0
    tail_s = int(report["tail_ms"]) / 1000.0

    direct_disk = os.path.join(work, "disk_direct.img")
    fresh_disk(direct_disk, disk_size)
    direct_s = dd(image, direct_disk, "bs=64K", "oflag=direct")
    buffered_disk = os.path.join(work, "disk_buffered.img")
    fresh_disk(buffered_disk, disk_size)
    buffered_s = dd(image, buffered_disk, "bs=4M")

    def rate(bytes_, seconds):
        return bytes_ / MIB / seconds if seconds > 0 else float("inf")

    writer_stream = rate(size - CHUNK, stream_s)  # the lines span every chunk but the first
    writer_call = rate(size, to_last_s)
    direct = rate(size, direct_s)
    buffered = rate(size, buffered_s)
    print("image: %d MiB, targets in %s" % (args.mib, work))
    print("writer, chunk stream          %8.1f MiB/s  (%.2f s)" % (writer_stream, stream_s))
    print("writer, start to last chunk   %8.1f MiB/s  (%.2f s)" % (writer_call, to_last_s))
    print("writer, release and message   %8s        (%.2f s)" % ("", tail_s))
    print("dd bs=64K oflag=direct        %8.1f MiB/s  (%.2f s)" % (direct, direct_s))
    print("dd bs=4M                      %8.1f MiB/s  (%.2f s)" % (buffered, buffered_s))
    print("ratio stream / dd direct      %8.2f" % (writer_stream / direct))
    print("ratio stream / dd 4M          %8.2f" % (writer_stream / buffered))
    print("ratio start-to-last / direct  %8.2f" % (writer_call / direct))
    print("ratio start-to-last / dd 4M   %8.2f" % (writer_call / buffered))
    for name in ("image.bin", "volume.img", "disk_writer.img", "disk_direct.img", "disk_buffered.img"):
        os.remove(os.path.join(work, name))
    os.rmdir(work)


if __name__ == "__main__":
    main()
