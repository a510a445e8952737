"""The raw image writer under Wine, on file-backed (and loop-device-backed) volumes and disks.

writer_probe.exe runs ImageWriter against a test page with the status line 1018 and the
progress bar 1019 and reports the message boxes, the last status text, the bar, WizardState
and how the page was closed. Every run also checks that nothing outside the target disk
changed: a second disk (physicaldrive2), a file behind physicaldrive0 and a second removable
volume stay byte for byte as they were.
"""

import os
import random
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from creation_flow import DENIED, DRIVE_ERROR, NO_ROOM, FakeStick, with_cause  # noqa: E402
from harness import WineSession, _unescape  # noqa: E402

CHUNK = 65536
PROBE = "writer_probe.exe"
PROBE_PAGE = "Writer Probe"
WM_APP = 0x8000
CANCELLED = "The Halcyra creation process has been cancelled."
# A volume refused for writing (immutable, or its link a directory): error 5.
OPEN_FAILED = with_cause("Unable to open the USB drive. Would you like to try again?", DENIED)
IMAGE_ERROR = "Error openning downloaded image - process can not continue"
SUCCESS = ("Halcyra has been successfully written to drive E:. Please insert the Halcyra USB Flash "
           "Drive into your computer and restart your computer to launch Halcyra. The Halcyra "
           "creator will close when ok is clicked.")
CHANGED = ("Drive E: has changed since it was chosen, so nothing has been written to it. Please "
           "choose the drive again.")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def parse_report(out):
    """(message boxes as (caption, icon, buttons, owned, text), the other fields)."""
    boxes, fields = [], {}
    for line in out.splitlines():
        parts = line.split("\t")
        if parts[0] == "box":
            boxes.append(tuple(parts[1:5]) + (_unescape(parts[5]),))
        elif len(parts) == 2:
            fields[parts[0]] = parts[1]
    return boxes, fields


class Rig:
    """A session with removable drive E: on disk 1, plus bystanders that must stay unchanged."""

    def __init__(self, session, disk_size=2 * 1024 * 1024):
        self.s = session
        self.volume = session.path("volume_e.img")
        self.disk = session.path("disk1.img")
        self.bystanders = {
            session.path("disk0.img"): b"\x33",
            session.path("disk2.img"): b"\x5a",
            session.path("volume_f.img"): b"\x77",
        }
        self.fill(self.volume, b"\xaa", 1024 * 1024)
        self.fill(self.disk, b"\xcc", disk_size)
        for path, byte in self.bystanders.items():
            self.fill(path, byte, 1024 * 1024)
        session.add_removable_drive("E", volume_file=self.volume, disk_file=self.disk, disk_number=1)
        # Wine reports every file-backed removable volume on disk 1, so F: counts as another
        # volume of the target disk: it is locked and dismounted, and must not be written.
        session.add_removable_drive("F", volume_file=session.path("volume_f.img"))
        session.link_device("physicaldrive0", session.path("disk0.img"))
        session.link_device("physicaldrive2", session.path("disk2.img"))
        session.restart_driver()  # the drive types are read when Wine starts

    @staticmethod
    def fill(path, byte, size):
        with open(path, "wb") as f:
            f.write(byte * size)

    def image(self, size, seed=1):
        data = random.Random(seed).randbytes(size)
        path = self.s.path("image.bin")
        with open(path, "wb") as f:
            f.write(data)
        return data, windows_path(path)

    def run(self, *args, answers="ok", timeout=120):
        code, out = self.s.run_tool(PROBE, list(args), env={"HALCYRA_PROBE_ANSWERS": answers},
                                    timeout=timeout)
        if code != 0:
            raise AssertionError("probe ended with %d:\n%s" % (code, out))
        return parse_report(out)

    def start(self, *args):
        return self.s.start_tool(PROBE, list(args))

    def finish(self, program, timeout=60):
        code = program.wait(timeout)
        out = program.output()
        if code != 0:
            raise AssertionError("probe ended with %d:\n%s" % (code, out))
        return parse_report(out)

    def read(self, path=None):
        with open(path or self.disk, "rb") as f:
            return f.read()

    def assert_bystanders_unchanged(self, case):
        for path, byte in self.bystanders.items():
            data = self.read(path)
            case.assertEqual(data, byte * (1024 * 1024), "%s changed" % os.path.basename(path))

    def assert_untouched(self, case, volume_too=True):
        self.assert_bystanders_unchanged(case)
        disk = self.read()
        case.assertEqual(disk.count(b"\xcc"), len(disk), "the target disk was written")
        if volume_too:
            case.assertEqual(self.read(self.volume), b"\xaa" * (1024 * 1024), "the volume was written")


class WriterUnderWine(unittest.TestCase):
    def test_image_lands_byte_for_byte_and_nothing_else_changes(self):
        with WineSession("writer-write", virtual_desktop=False) as s:
            rig = Rig(s)
            size = CHUNK * 5 + 777
            data, image = rig.image(size)
            boxes, report = rig.run("--drive", "E", "--image", image, "--download-active")

            self.assertEqual(boxes, [("Operation Complete", "information", "ok", "1", SUCCESS)])
            self.assertEqual(report["result"], "1")
            disk = rig.read()
            self.assertEqual(disk[:size], data)
            padded = (size + 511) // 512 * 512
            self.assertEqual(disk[size:padded], b"\0" * (padded - size))  # the last sector's tail
            self.assertEqual(disk[padded:], b"\xcc" * (len(disk) - padded))
            volume = rig.read(rig.volume)
            self.assertEqual(volume[:CHUNK], b"\0" * CHUNK)
            self.assertEqual(volume[CHUNK:], b"\xaa" * (len(volume) - CHUNK))
            rig.assert_bystanders_unchanged(self)

            self.assertEqual(report["bar"], "100")
            self.assertEqual(report["range"], "0 100")
            self.assertEqual(report["status"], "320.76 KB of 320.76 KB Verified (100%)")
            self.assertEqual(report["wizard"], "0")
            self.assertEqual(report["closed"], "posted")
            self.assertEqual(report["page"], "gone")
            self.assertEqual(report["flags"], "0 0 0")

    def test_volume_that_cannot_be_opened_asks_again(self):
        with WineSession("writer-retry", virtual_desktop=False) as s:
            rig = Rig(s)
            d = s.driver
            data, image = rig.image(CHUNK * 2 + 10)
            # A device link to a directory can't be opened for writing. (Without any link Wine
            # opens a stand-in device for the letter whose reads and writes fail.)
            os.makedirs(s.path("not_a_volume"), exist_ok=True)

            # Yes retries: the first retry fails again, the second finds the volume back. The
            # volume refuses to be opened for writing while its file is immutable; the device
            # stays the same, so the drive is still the chosen one.
            subprocess.run(["chattr", "+i", rig.volume], check=True)
            self.addCleanup(subprocess.run, ["chattr", "-i", rig.volume])
            program = rig.start("--drive", "E", "--image", image)
            box = d.wait_message_box("Write Error", timeout=30)
            self.assertEqual(d.message_text(box), OPEN_FAILED)
            d.answer(box, "yes")
            d.wait_gone(box)
            box = d.wait_message_box("Write Error")
            subprocess.run(["chattr", "-i", rig.volume], check=True)
            d.answer(box, "yes")
            d.answer(d.wait_message_box("Operation Complete"), "ok")
            boxes, report = rig.finish(program)
            self.assertEqual([b[0] for b in boxes], ["Write Error", "Write Error", "Operation Complete"])
            self.assertEqual(boxes[0], ("Write Error", "warning", "yes+no", "1", OPEN_FAILED))
            self.assertEqual(report["result"], "1")
            self.assertEqual(rig.read()[:len(data)], data)

            # No: the declined ending; nothing is written and the page closes with the result
            # that brings back the drive selection page.
            rig.fill(rig.disk, b"\xcc", 2 * 1024 * 1024)
            rig.fill(rig.volume, b"\xaa", 1024 * 1024)
            s.link_device("e::", s.path("not_a_volume"))
            program = rig.start("--drive", "E", "--image", image, "--wizard", "5")
            d.answer(d.wait_message_box("Write Error", timeout=30), "no")
            box = d.wait_message_box("Cancelled")
            self.assertEqual(d.message_text(box), CANCELLED)
            d.answer(box, "ok")
            boxes, report = rig.finish(program)
            self.assertEqual([b[0] for b in boxes], ["Write Error", "Cancelled"])
            self.assertEqual(boxes[1][1:3], ("information", "ok"))
            self.assertEqual(report["result"], "0")
            self.assertEqual(report["page"], "gone")
            self.assertEqual(report["closed"], "sent")
            self.assertEqual(report["wizard"], "2")
            self.assertEqual(report["flags"], "0 0 0")
            rig.assert_untouched(self)

            # A cancel confirmed while the prompt is open: Yes ends the run with one message,
            # even though the volume could now be opened.
            program = rig.start("--drive", "E", "--image", image)
            box = d.wait_message_box("Write Error", timeout=30)
            d.post(d.wait_window(PROBE_PAGE), WM_APP + 1)
            s.link_device("e::", rig.volume)
            d.answer(box, "yes")
            d.answer(d.wait_message_box("Cancelled"), "ok")
            boxes, report = rig.finish(program)
            self.assertEqual([b[0] for b in boxes], ["Write Error", "Cancelled"])
            self.assertEqual(report["status"], "")
            self.assertEqual(report["closed"], "posted")
            self.assertEqual(report["page"], "gone")
            self.assertEqual(report["wizard"], "2")
            rig.assert_untouched(self)

    def test_disk_smaller_than_the_image(self):
        if os.geteuid() != 0 or not shutil.which("losetup"):
            self.skipTest("needs root for a loop device")
        with WineSession("writer-small", virtual_desktop=False) as s:
            rig = Rig(s)
            backing = s.path("small_disk.img")
            rig.fill(backing, b"\xcc", CHUNK * 3)
            loop = subprocess.run(["losetup", "-f", "--show", backing], check=True,
                                  capture_output=True, text=True).stdout.strip()
            try:
                s.link_device("physicaldrive1", loop)
                data, image = rig.image(CHUNK * 5 + 100)
                boxes, report = rig.run("--drive", "E", "--image", image, answers="ok,ok")
            finally:
                subprocess.run(["losetup", "-d", loop], check=False)
            self.assertEqual(boxes, [("Drive Error", "error", "ok", "1",
                                      with_cause(DRIVE_ERROR, NO_ROOM)),
                                     ("Cancelled", "information", "ok", "1", CANCELLED)])
            self.assertEqual(report["result"], "0")
            self.assertEqual(report["status"], CANCELLED)
            self.assertEqual(report["wizard"], "2")
            self.assertEqual(report["closed"], "sent")
            self.assertEqual(report["page"], "gone")
            self.assertEqual(report["flags"], "0 0 1")
            # What fit was written; the first chunk, held back, was only zeroed.
            disk = rig.read(backing)
            self.assertEqual(len(disk), CHUNK * 3)
            self.assertEqual(disk[:CHUNK], b"\0" * CHUNK)
            self.assertEqual(disk[CHUNK:], data[CHUNK:CHUNK * 3])
            rig.assert_bystanders_unchanged(self)

    def test_cancel_during_the_write_stops_after_the_chunk_in_progress(self):
        with WineSession("writer-cancel", virtual_desktop=False) as s:
            rig = Rig(s)
            data, image = rig.image(CHUNK * 20)
            # A slow stick; the page's Cancel is confirmed while the second progress line is
            # shown (the page shows the latest line at its own pace: some chunk of the write).
            # 100 ms a chunk keeps the write going for 2 s: on a loaded machine the emulated
            # 32-bit page showed its second line only after 20 chunks of 20 ms.
            with FakeStick(s, "stick", size=CHUNK * 32, delay_ms=100) as stick:
                boxes, report = rig.run("--drive", "E", "--image", image, "--cancel-after-lines", "2")
                disk = rig.read(stick.path)
            self.assertEqual(boxes, [("Cancelled", "information", "ok", "1", CANCELLED)])
            self.assertEqual(report["status"], CANCELLED)
            self.assertEqual(report["wizard"], "2")
            self.assertEqual(report["closed"], "sent")
            self.assertEqual(report["page"], "gone")
            # Chunks 1..k of the image and nothing after them; the first chunk only zeroed.
            self.assertEqual(disk[:CHUNK], b"\0" * CHUNK)  # no partition table in front
            k = next(i for i in range(1, 21) if disk[i * CHUNK:(i + 1) * CHUNK] != data[i * CHUNK:(i + 1) * CHUNK])
            self.assertTrue(2 <= k < 20, k)
            self.assertEqual(disk[CHUNK * k:], b"\xee" * (len(disk) - CHUNK * k))
            rig.assert_bystanders_unchanged(self)

    def test_endings_that_write_nothing(self):
        with WineSession("writer-nothing", virtual_desktop=False) as s:
            rig = Rig(s)
            _, image = rig.image(CHUNK * 3)

            # A cancel before the writer starts: no device is opened.
            boxes, report = rig.run("--drive", "E", "--image", image, "--cancel-at-start",
                                    "--wizard", "2")
            self.assertEqual(boxes, [("Cancelled", "information", "ok", "1", CANCELLED)])
            self.assertEqual((report["status"], report["closed"], report["page"], report["wizard"]),
                             ("", "posted", "gone", "2"))
            rig.assert_untouched(self)

            # An empty image is an error, not a success; the volume is not wiped, and the page
            # closes for the drive selection page.
            empty = s.path("empty.bin")
            open(empty, "wb").close()
            boxes, report = rig.run("--drive", "E", "--image", windows_path(empty))
            self.assertEqual(boxes, [("File Error", "error", "ok", "1", IMAGE_ERROR)])
            self.assertEqual((report["result"], report["page"], report["wizard"], report["flags"]),
                             ("0", "gone", "2", "0 0 0"))
            rig.assert_untouched(self)

            # A missing image file, likewise.
            boxes, _ = rig.run("--drive", "E", "--image", windows_path(s.path("missing.bin")))
            self.assertEqual([b[0] for b in boxes], ["File Error"])
            rig.assert_untouched(self)

            # A letter that has become a fixed disk (Wine reports such a letter without a device
            # link on disk 0): no longer the removable drive that was chosen, and nothing is
            # written anywhere. (The disk-0 ending itself is reached through the unit tests: a
            # removable letter on disk 0 can't be made under Wine.)
            s.unlink_device("e::")
            s.set_drive_type("E", "hd")
            s.restart_driver()
            boxes, report = rig.run("--drive", "E", "--image", image)
            self.assertEqual(boxes, [("Drive Error", "error", "ok", "1", CHANGED)])
            self.assertEqual(report["result"], "0")
            self.assertEqual(report["wizard"], "2")
            self.assertEqual(report["closed"], "sent")
            self.assertEqual(report["page"], "gone")
            self.assertEqual(report["flags"], "0 0 0")
            rig.assert_untouched(self)


if __name__ == "__main__":
    unittest.main()
