"""A whole run through the real program with an image of 4 GiB and a few bytes: a sparse file
with a boot sector in front, served from loopback, written onto a sparse disk file, with a
stall limit of 5 s. The status lines sampled during the download only ever grow and end at the
full size, the run ends with "Operation Complete", the disk holds the image byte for byte and
the image is kept with a record of its whole length.
The platform's raw progress reports of the run (the TestDownloadLog setting) are summed up in the
output. Runs with the x86_64 build only: the emulated 32-bit Wine would take an hour for it."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import ARCH, WineSession  # noqa: E402
from creation_flow import (SUCCESS, ImageServer, add_target_drive, create_on,  # noqa: E402
                           kept_record, message_boxes, open_drive_page, make_demo_image, watch)

SIZE = (4 << 30) + 1234567
UNITS = {"Bytes": 1, "KB": 1 << 10, "MB": 1 << 20, "GB": 1 << 30}
LINE = re.compile(r"^([\d.]+) (Bytes|KB|MB|GB) of ([\d.]+) (Bytes|KB|MB|GB) Downloaded \(")


def amount(number, unit):
    """Bytes of a shown size, to the precision of its two decimals."""
    return round(float(number) * UNITS[unit])


def summary(log):
    """The raw reports of the platform, summed up: count, totals, the widest gap between two
    reports, the last report and how long the call went on after it."""
    reports, result = [], None
    with open(log) as f:
        for line in f:
            fields = line.split()
            if fields[1] == "progress":
                reports.append([int(x) for x in (fields[0], fields[2], fields[3], fields[4])])
            elif fields[1] == "result":
                result = (int(fields[0]), fields[2])
    data = [r for r in reports if r[3] in (4, 5, 6)]
    gaps = [b[0] - a[0] for a, b in zip(data, data[1:])]
    return ("%d reports, totals %s, widest gap %d ms, last %r, call returned %s %d ms after it"
            % (len(data), sorted({r[2] for r in data}), max(gaps, default=0), data[-1][1:],
               result[1], result[0] - data[-1][0]))


@unittest.skipIf(ARCH == "win32", "x86_64 build only")
class LargeDownload(unittest.TestCase):
    def test_an_image_past_four_gibibytes_is_counted_shown_and_written_whole(self):
        work = tempfile.mkdtemp(prefix="halcyra-4gib-")
        try:
            image = os.path.join(work, "large.img")
            make_demo_image.build_sparse(image, SIZE)
            log = os.path.join(work, "reports.log")
            with WineSession("download-4gib", accept_agreement=True) as s, \
                    ImageServer(image) as server:
                disk, _ = add_target_drive(s)
                os.truncate(disk, SIZE + (1 << 20))  # the rest of the disk file is a hole
                # A stall limit far below the platform's silences: up to half a minute between
                # two reports, and its copy of the finished download without any.
                settings = dict(server.program_settings(), TestStallSeconds=5,
                                TestDownloadLog="Z:" + log.replace("/", "\\"))
                program = s.start_program(settings=settings)
                d = s.driver
                page = create_on(d, open_drive_page(d))
                start = time.monotonic()
                samples = watch(d, page, lambda _: message_boxes(d), interval=0.25, timeout=900)
                took = time.monotonic() - start
                box, text = d.expect_message("Operation Complete", timeout=5)
                self.assertEqual(text, SUCCESS)
                d.answer(box, "ok")
                self.assertEqual(program.wait(60), 0)

                lines = [x for x in samples if LINE.match(x["status"] or "")]
                self.assertGreater(len(lines), 10)
                shown = [amount(*LINE.match(x["status"]).groups()[:2]) for x in lines]
                self.assertEqual(shown, sorted(shown), "the count shown only grows")
                last = lines[-1]
                self.assertTrue(last["status"].startswith("4.00 GB of 4.00 GB Downloaded"),
                                last["status"])
                self.assertEqual(last["bar"], 1000)
                for x in lines:
                    total = LINE.match(x["status"]).groups()[2:]
                    self.assertEqual(total, ("4.00", "GB"), x["status"])
                # How long a line stood still while bytes were still due.
                due = [x for x in lines if not x["status"].startswith("4.00 GB of")]
                stuck, since = 0.0, due[0]
                for x in due:
                    if x["status"].split(" of ")[0] != since["status"].split(" of ")[0]:
                        since = x
                    stuck = max(stuck, x["t"] - since["t"])
                written = next(x["t"] for x in samples if "Written" in (x["status"] or ""))
                self.assertEqual(subprocess.run(["cmp", "-n", str(SIZE), disk, image]).returncode,
                                 0, "the disk holds the image")
                # The image is kept for the next run with its whole length.
                self.assertIn("Content-Length: %d\n" % SIZE, kept_record(s))
                print("\n4 GiB + 1,234,567 bytes: Create to Operation Complete in %.0f s (the "
                      "first line at %.0f s, the full count at %.0f s, the first Written line at "
                      "%.0f s); %d download lines, the longest standstill of a line while bytes "
                      "were due %.1f s; platform: %s"
                      % (took, lines[0]["t"], next(x["t"] for x in lines if x not in due),
                         written, len(lines), stuck, summary(log)), file=sys.stderr)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
