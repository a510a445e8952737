"""Throughput of the raw image writer under Wine against a bare Win32 loop and dd, on the same
kind of target.

Writes one 256 MiB image four ways, each onto a fresh file-backed disk in the same folder:
  writer   ImageWriter through writer_probe.exe, the file linked as \\\\.\\PHYSICALDRIVE1,
           which also reads the image back (verification)
  bare     raw_loop.exe: the writer's open flags and 64 KiB WriteFiles and nothing else, onto
           the same kind of link, then its read-back in the same chunks
  direct   dd bs=64K oflag=direct   (the writer's chunk size, past the page cache)
  buffered dd bs=4M                 (into the page cache)
and prints the throughputs and the ratios. The writer's write figure is its chunk stream
(first to last "Written" line), its verification figure the read-back stream (first to last
"Verified" line); the whole call is given beside them, with the one-second pause before the
volume lock, and the time from the last line to the end of the call (releasing the devices
and the success message, which the probe answers at once).

    HALCYRA_WIN64_DIR=build/win64 python3 bench/writer_bench.py [--mib 256] [--dir /tmp]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
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

    windows_image = "Z:" + image.replace("/", "\\")
    # A virtual desktop, as the program has: without one, Wine waits up to 2 s for a window
    # manager to confirm that a closed message box has gone.
    with WineSession("writer-bench") as s:
        volume = os.path.join(work, "volume.img")
        fresh_disk(volume, MIB)
        writer_disk = os.path.join(work, "disk_writer.img")
        fresh_disk(writer_disk, disk_size)
        s.add_removable_drive("E", volume_file=volume, disk_file=writer_disk, disk_number=1)
        s.restart_driver()
        os.sync()  # each measured write starts with no dirty pages waiting to be written back
        code, out = s.run_tool("writer_probe.exe", ["--drive", "E", "--image", windows_image],
                               env={"HALCYRA_PROBE_ANSWERS": "ok"}, timeout=1800)
        bare_disk = os.path.join(work, "disk_bare.img")
        fresh_disk(bare_disk, disk_size)
        s.link_device("physicaldrive1", bare_disk)
        bare = {}
        for mode in ("write", "read"):
            os.sync()
            bare_code, bare_out = s.run_tool("raw_loop.exe", [mode, windows_image, r"\\.\PHYSICALDRIVE1"],
                                             timeout=1800)
            result = dict(line.split(" ", 1) for line in bare_out.split("\n") if " " in line)
            if bare_code != 0 or result.get("ok") != "1":
                sys.exit("the bare %s loop failed:\n%s" % (mode, bare_out))
            bare[mode] = int(result["ms"]) / 1000.0
    report = dict(line.split("\t", 1) for line in out.splitlines() if line.count("\t") == 1)
    if code != 0 or report.get("result") != "1":
        sys.exit("the writer did not succeed:\n" + out)
    if not same_start(image, writer_disk, size):
        sys.exit("the writer's disk does not hold the image")
    stream_s = int(report["stream_ms"]) / 1000.0
    verify_s = int(report["verify_ms"]) / 1000.0
    call_s = int(report["elapsed_ms"]) / 1000.0
    tail_s = int(report["tail_ms"]) / 1000.0

    os.sync()
    direct_disk = os.path.join(work, "disk_direct.img")
    fresh_disk(direct_disk, disk_size)
    direct_s = dd(image, direct_disk, "bs=64K", "oflag=direct")
    buffered_disk = os.path.join(work, "disk_buffered.img")
    fresh_disk(buffered_disk, disk_size)
    buffered_s = dd(image, buffered_disk, "bs=4M")

    def rate(bytes_, seconds):
        return bytes_ / MIB / seconds if seconds > 0 else float("inf")

    # The lines span every chunk but the first of each phase.
    writer_write = rate(size - CHUNK, stream_s)
    writer_verify = rate(size - CHUNK, verify_s)
    bare_write = rate(size, bare["write"])
    bare_read = rate(size, bare["read"])
    direct = rate(size, direct_s)
    buffered = rate(size, buffered_s)
    print("image: %d MiB, targets in %s" % (args.mib, work))
    print("writer, write (chunk stream)   %8.1f MiB/s  (%.2f s)" % (writer_write, stream_s))
    print("bare WriteFile loop            %8.1f MiB/s  (%.2f s)" % (bare_write, bare["write"]))
    print("writer, read-back stream       %8.1f MiB/s  (%.2f s)" % (writer_verify, verify_s))
    print("bare ReadFile loop + compare   %8.1f MiB/s  (%.2f s)" % (bare_read, bare["read"]))
    print("writer, whole call             %8.1f MiB/s  (%.2f s, write and read-back)" % (rate(size, call_s), call_s))
    print("writer, last line to the end  %8s         (%.2f s)" % ("", tail_s))
    print("dd bs=64K oflag=direct         %8.1f MiB/s  (%.2f s)" % (direct, direct_s))
    print("dd bs=4M                       %8.1f MiB/s  (%.2f s)" % (buffered, buffered_s))
    print("ratio write / bare write       %8.2f" % (writer_write / bare_write))
    print("ratio read-back / bare read    %8.2f" % (writer_verify / bare_read))
    print("ratio write / dd direct        %8.2f" % (writer_write / direct))
    print("ratio write+verify / write     %8.2f  (time)" % ((stream_s + verify_s) / stream_s))
    for name in ("image.bin", "volume.img", "disk_writer.img", "disk_bare.img", "disk_direct.img",
                 "disk_buffered.img"):
        os.remove(os.path.join(work, name))
    os.rmdir(work)


if __name__ == "__main__":
    main()
