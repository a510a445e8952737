"""The write phase of a whole run through the real program: a Cancel confirmed while the image
is being written, and a disk that ends before the image does (a loop device, where writes past
the end fail). Either way the stick holds no bootable start (the first chunk, written last, is
only zeroed), the program says so and returns to the drive selection page. These run the
shipped 32-bit program too; every other ending is in test_run_endings.py."""

import contextlib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import WineSession  # noqa: E402
from creation_flow import (CANCEL, CANCELLED, DRIVE_ERROR, DRIVE_LIST, NO_ROOM,  # noqa: E402
                           PAGE, FakeStick, ImageServer, add_target_drive, build_demo_image,
                           fill_file, open_progress_page, watch, with_cause)

CHUNK = 65536
DRIVE_PAGE_CANCEL = 4


class WriteEndings(unittest.TestCase):
    def run_write(self, name, image_size, disk_size, on_write, boxes, check_disk, slow_ms=0):
        """A run whose write phase is met by on_write(driver, page); expects the message boxes
        `boxes` (caption, text) in turn, then check_disk(disk bytes, image bytes), then the drive
        page. The disk is a loop device, or with slow_ms a FUSE stick whose every write takes
        that long (so that a cancel lands in the write even where the disk is fast)."""
        if os.geteuid() != 0:
            self.skipTest("needs root for a loop device and FUSE")
        with WineSession(name, accept_agreement=True) as s, contextlib.ExitStack() as stack:
            image = build_demo_image(s.path("image.img"), image_size)
            server = stack.enter_context(ImageServer(image, rate=64 << 20))
            add_target_drive(s)
            if slow_ms:
                backing = stack.enter_context(
                    FakeStick(s, "stick", size=disk_size, delay_ms=slow_ms)).path
            else:
                backing = s.path("disk.img")
                fill_file(backing, disk_size, b"\xee")
                loop = subprocess.run(["losetup", "-f", "--show", backing], check=True,
                                      capture_output=True, text=True).stdout.strip()
                stack.callback(subprocess.run, ["losetup", "-d", loop], check=False)
                s.link_device("physicaldrive1", loop)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            page = open_progress_page(d)
            watch(d, page, lambda x: "Written" in (x["status"] or ""), interval=0.02)
            on_write(d, page)
            for caption, text in boxes:
                box, shown = d.expect_message(caption, timeout=60)
                self.assertEqual(shown, text)
                d.answer(box, "ok")
            with open(backing, "rb") as f, open(image, "rb") as g:
                check_disk(f.read(), g.read())
            d.click(d.wait_window(PAGE, control=DRIVE_LIST, timeout=20), DRIVE_PAGE_CANCEL)
            self.assertEqual(program.wait(30), 0)

    def test_cancel_during_the_write(self):
        def cancel(d, page):
            d.click(page, CANCEL)
            d.answer(d.wait_message_box("Are you sure?"), "yes")

        def check(disk, image):
            written = len(disk[CHUNK:len(image)].rstrip(b"\xee")) + CHUNK
            self.assertEqual(disk[:CHUNK], b"\0" * CHUNK)
            self.assertLess(written, len(image), "the write stopped early")
            self.assertEqual(disk[CHUNK:written], image[CHUNK:written])
            self.assertEqual(disk[len(image):], b"\xee" * (len(disk) - len(image)))

        self.run_write("write-cancel", 8 << 20, 16 << 20, cancel, [("Cancelled", CANCELLED)], check,
                       slow_ms=40)

    def test_disk_smaller_than_the_image(self):
        def check(disk, image):
            self.assertEqual(disk[:CHUNK], b"\0" * CHUNK)
            self.assertEqual(disk[CHUNK:], image[CHUNK:len(disk)])

        self.run_write("write-short", 4 << 20, 2 << 20, lambda d, page: None,
                       [("Drive Error", with_cause(DRIVE_ERROR, NO_ROOM)),
                        ("Cancelled", CANCELLED)], check)


if __name__ == "__main__":
    unittest.main(verbosity=2)
