"""A whole creation run under Wine against curl and dd doing the same work.

Serves one image (default 256 MiB: the demo boot sector and numbered filler sectors) from the
stand-in server on loopback and measures, in the same run:
  program  the real program from Yes on the drive warning to the "Operation Complete" message:
           the download into the program's folder, the write onto a file-backed disk (the
           image's SHA-256 taken on the way) and its read-back
  curl     curl downloading the same address into a file, then
  dd       dd bs=64K oflag=direct writing that file onto a fresh file-backed disk
and prints both totals, their parts and the ratio. While the program runs, the UI driver asks
the progress page for an answer (WM_NULL) every 50 ms; the worst answer times of the
download, the write and the read-back are printed too. The program's write holds the writer's one-second pause
before the volume lock, which is printed on its own line. For comparison the same address is
also fetched by URLDownloadToFileA alone (tests/harness/tools/download_probe.exe, no page, no
callback) in the program's prefix: the platform's own share of the download time.

Then the program starts a second time in the same prefix, for a second disk: the server still
serves the same image, so the run writes the image it kept from the first, taking its SHA-256
as it writes it. For both runs the time from Yes to the first "Written" line is printed; the
second must come within the writer's pause before the lock and 0.3 s, whatever the image's
size. A program that hashes the image in a pass of its own before the write (an earlier build,
--before) has those times printed from its run log. --before runs that build the same way first,
in the same benchmark run, so that both are measured on one machine in one state. --rate
serves the image at that many bytes per second (12500000 stands for a 100 Mbit/s connection;
default: as fast as loopback goes).

    HALCYRA_WIN64_DIR=build/win64 python3 bench/run_bench.py [--mib 256] [--rate 12500000]
        [--no-baseline] [--before <earlier build>/HalcyraCreator.exe]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
from harness import WineSession  # noqa: E402
from creation_flow import (ImageServer, add_target_drive, build_demo_image,  # noqa: E402
                           message_boxes, open_drive_page, run_log, starts_with_file, watch, BAR,
                           PAGE, NEXT)

MIB = 1024 * 1024
WRITER_PAUSE_S = 1.0


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True)
    return time.perf_counter() - start


def hash_seconds(log):
    """The seconds of each SHA-256 the program's run log reports ("... in <ms> ms ...")."""
    return [int(line.split(" bytes in ")[1].split()[0]) / 1000.0 for line in log.splitlines()
            if "kept image: SHA-256 of" in line]


def whole_run(s, settings, image, disk, program_path):
    """One start of the program through a whole run onto `disk`: (samples, seconds from Yes to
    the page, seconds from Yes to "Operation Complete", seconds from Yes to the first "Written"
    line, the run log's times of a separate SHA-256 pass over the image, if the program makes
    one)."""
    log_start = len(run_log(s))
    program = s.start_program(program_path, settings=settings)
    d = s.driver
    drive_page = open_drive_page(d)
    d.click(drive_page, NEXT)
    box = d.wait_message_box("Are you sure?", timeout=10)
    d.answer(box, "yes")
    start = time.monotonic()
    page = d.wait_window(PAGE, control=BAR, timeout=30)
    page_at = time.monotonic() - start  # sample times count from here
    samples = watch(d, page, lambda _: "Operation Complete" in message_boxes(d), timeout=1800)
    total = time.monotonic() - start
    written = next((page_at + x["t"] for x in samples if "Written" in (x["status"] or "")),
                   float("nan"))
    d.answer(d.wait_message_box("Operation Complete"), "ok")
    if program.wait(60) != 0:
        sys.exit("the program did not end with 0")
    if not starts_with_file(disk, image):
        sys.exit("the program's disk does not hold the image")
    return samples, page_at, total, written, hash_seconds(run_log(s)[log_start:])


def program_run(image, server, disk_size, baseline, exe=None):
    """Two whole runs, the second with the kept image, and the platform's download alone:
    a dict of the figures. `exe`: another build of the program to run (default: this one)."""
    with WineSession("run-bench", accept_agreement=True) as s:
        disk, _ = add_target_drive(s, disk_size=disk_size)
        settings = server.program_settings()
        path = r"C:\Halcyra\HalcyraCreator.exe"
        if exe:
            os.makedirs(s.c_drive("Before"), exist_ok=True)
            shutil.copy(exe, s.c_drive("Before", "HalcyraCreator.exe"))
            path = r"C:\Before\HalcyraCreator.exe"
        samples, page_at, total, first_written, first_hashes = whole_run(s, settings, image, disk,
                                                                         path)
        bodies = server.bodies()
        # A second, empty disk; the server still serves the same image.
        with open(disk, "wb") as f:
            f.truncate(disk_size)
        _, _, second_total, second_written, second_hashes = whole_run(s, settings, image, disk,
                                                                     path)
        if server.bodies() != bodies:
            sys.exit("the second run downloaded the image again")
        download_pings, write_pings, verify_pings, download_end = [], [], [], None
        for x in samples:
            status = x["status"] or ""
            if "Verif" in status:
                verify_pings.append(x["ping"])
            elif "Written" in status or status.startswith(("Creating", "Checking")):
                write_pings.append(x["ping"])
                if download_end is None:
                    download_end = x["t"]
            else:
                download_pings.append(x["ping"])
        download = page_at + download_end if download_end is not None else float("nan")
        probe = float("nan")
        if baseline:
            code, out = s.run_tool("download_probe.exe", [server.url + "&Rand=2", r"C:\probe.bin"],
                                   timeout=1800)
            if code != 0:
                sys.exit("download_probe failed:\n" + out)
            probe = int(out.split("ms ")[1].split()[0]) / 1000.0
        return dict(total=total, download=download, ping_download=max(download_pings or [0]),
                    ping_write=max(write_pings or [0]), ping_verify=max(verify_pings or [0]),
                    probe=probe, first_written=first_written, first_hash=sum(first_hashes),
                    second_total=second_total, second_written=second_written,
                    second_hash=sum(second_hashes))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--rate", type=int, default=0,
                        help="bytes per second the server sends (0: as fast as it can)")
    parser.add_argument("--no-baseline", action="store_true",
                        help="leave out curl, dd and URLDownloadToFileA alone")
    parser.add_argument("--dir", default=None, help="working folder (default: a temp folder)")
    parser.add_argument("--before", default=None,
                        help="HalcyraCreator.exe of an earlier build, run the same way first")
    args = parser.parse_args()
    size = args.mib * MIB
    work = tempfile.mkdtemp(prefix="run-bench-", dir=args.dir)
    try:
        image = build_demo_image(os.path.join(work, "image.img"), size)
        with ImageServer(image, rate=args.rate) as server:
            runs = [("before", program_run(image, server, size + MIB, False, args.before))] \
                if args.before else []
            r = program_run(image, server, size + MIB, not args.no_baseline)
            runs.append(("now", r))
            total, download, probe = r["total"], r["download"], r["probe"]
            link = ("at %.1f Mbit/s" % (args.rate * 8 / 1e6)) if args.rate else "over loopback"
            print("image: %d MiB %s, file-backed disks in %s" % (args.mib, link, work))
            for name, x in runs:
                print("%-6s first run, Yes to Operation Complete      %7.2f s" % (name, x["total"]))
                print("%-6s   Yes to the first Written line           %7.2f s"
                      % (name, x["first_written"]))
                print("%-6s   a separate hash pass of the download    %7.2f s"
                      % (name, x["first_hash"]))
                print("%-6s second run (kept image), Yes to Written   %7.2f s"
                      % (name, x["second_written"]))
                print("%-6s   a separate check of the kept image      %7.2f s"
                      % (name, x["second_hash"]))
                print("%-6s second run, Yes to Operation Complete     %7.2f s"
                      % (name, x["second_total"]))
            # The kept image is checked as it is written: the second stick's first line comes
            # after the writer's pause before the lock and little more, whatever the size.
            limit = WRITER_PAUSE_S + 0.3
            print("second run's first Written line within %.1f s: %s"
                  % (limit, "yes" if r["second_written"] <= limit else "NO"))
            if args.no_baseline:
                print("program, whole run            %7.2f s" % total)
                print("  download (to the write)     %7.2f s  %7.1f MiB/s"
                      % (download, args.mib / download))
                return

            fetched = os.path.join(work, "curl.img")
            url = server.url + "&Rand=1"
            curl_s = timed(["curl", "-s", "-f", "-o", fetched, url])
            disk = os.path.join(work, "dd_disk.img")
            with open(disk, "wb") as f:
                f.truncate(size + MIB)
            dd_s = timed(["dd", "if=" + fetched, "of=" + disk, "bs=64K", "oflag=direct",
                          "conv=notrunc", "status=none"])
            if not starts_with_file(disk, image):
                sys.exit("dd's disk does not hold the image")

        baseline = curl_s + dd_s
        write = total - download
        print("program, whole run            %7.2f s" % total)
        print("  download (to the write)     %7.2f s  %7.1f MiB/s" % (download, args.mib / download))
        print("  hash, write, read-back, end %7.2f s  %7.1f MiB/s" % (write, args.mib / write))
        print("  of it the writer's pause    %7.2f s" % WRITER_PAUSE_S)
        print("URLDownloadToFileA alone      %7.2f s  %7.1f MiB/s" % (probe, args.mib / probe))
        print("curl + dd, whole              %7.2f s" % baseline)
        print("  curl                        %7.2f s  %7.1f MiB/s" % (curl_s, args.mib / curl_s))
        print("  dd bs=64K oflag=direct      %7.2f s  %7.1f MiB/s" % (dd_s, args.mib / dd_s))
        print("ratio program / (curl + dd)   %7.2f" % (total / baseline))
        print("worst page answer, download   %7d ms" % r["ping_download"])
        print("worst page answer, write      %7d ms" % r["ping_write"])
        print("worst page answer, read-back  %7d ms" % r["ping_verify"])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
