"""Every way a creation run can end, reached through the real program as a user reaches it:
the action or the fault of each row happens in its phase of the run, and the test checks the
message boxes in order, where the program goes next, what the stick and the volume hold, and
that the program ends with 0 when the user leaves. The rows run one after another in one
program, each from the drive selection page the last one left, and end with a whole run."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from collections import namedtuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import WineSession, wait_until  # noqa: E402
from creation_flow import (CANCEL, CANCELLED, DRIVE_LIST, NO_DATA, PAGE, STATUS,  # noqa: E402
                           download_error,
                           SUCCESS, FakeStick, ImageServer, add_target_drive, build_demo_image,
                           create_on, downloaded_image, fill_file, is_filled, message_boxes,
                           open_drive_page, watch)

CHUNK = 65536
MIB = 1 << 20
DRIVE_PAGE_CANCEL = 4
WRITE_FAILED = "An error occurred writing the Halcyra image to your USB Drive."
NOT_VERIFIED = ("The Halcyra image could not be verified on your USB Drive: the data read back "
                "differs from what was written. The drive may be faulty, or smaller than it reports.")
CHANGED = ("Drive E: has changed since it was chosen, so nothing has been written to it. Please "
           "choose the drive again.")
OPEN_FAILED = "Unable to open the USB drive. Would you like to try again?"

WORK = tempfile.mkdtemp(prefix="halcyra-endings-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))
with open(IMAGE, "rb") as f:
    IMAGE_BYTES = f.read()


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


# A row: the server's mode, the stick (FakeStick options), when the user acts (a word of the
# status line, or "open" for as soon as the page is up) and what they do, the boxes they see
# (caption, text), and what the stick then holds: "untouched", "partial" or "image".
Row = namedtuple("Row", "name server stick at act boxes disk")
FAST = dict(size=16 * MIB)
SLOW = dict(size=16 * MIB, delay_ms=40)
CANCEL_BOX = ("Cancelled", CANCELLED)

ROWS = [
    Row("just opened, Cancel Yes", "trickle", FAST, "open", "cancel", [CANCEL_BOX], "untouched"),
    Row("server sends nothing", "stall", FAST, None, None, [("Download Error", download_error(NO_DATA % 4))],
        "untouched"),
    Row("pause before the lock, Cancel Yes", "normal", SLOW, "Creating", "cancel", [CANCEL_BOX],
        "untouched"),
    Row("write, Cancel Yes", "normal", SLOW, "Written", "cancel", [CANCEL_BOX], "partial"),
    Row("write, close box Yes", "normal", SLOW, "Written", "close", [], "partial"),
    Row("disk smaller than the image", "normal", dict(size=2 * MIB), None, None,
        [("Drive Error", WRITE_FAILED), CANCEL_BOX], "partial"),
    Row("image truncated while written", "normal", SLOW, "Written", "truncate", [CANCEL_BOX],
        "partial"),
    Row("stick smaller than it reports", "normal", dict(size=16 * MIB, keep=MIB), None, None,
        [("Drive Error", NOT_VERIFIED), CANCEL_BOX], None),
    Row("stick that keeps nothing", "normal", dict(size=16 * MIB, forget=True), None, None,
        [("Drive Error", NOT_VERIFIED), CANCEL_BOX], None),
    Row("verification, Cancel Yes", "normal", SLOW, "Verified", "cancel", [CANCEL_BOX], "image"),
    Row("drive changed during the download", "trickle", FAST, "Downloaded", "resize",
        [("Drive Error", CHANGED)], "untouched"),
]


class RunEndings(unittest.TestCase):
    def assert_disk(self, disk, expected):
        """What the stick holds after a row: untouched, a partial image or the whole image."""
        with open(disk, "rb") as f:
            data = f.read()
        size = len(IMAGE_BYTES)
        if expected == "untouched":
            self.assertEqual(data.count(b"\xee"), len(data), "the stick is untouched")
        elif expected == "image":
            self.assertEqual(data[:size], IMAGE_BYTES)
        elif expected == "partial":
            # The first chunk stays zero until the end; every other chunk is the image's own
            # or untouched, and the image is not whole.
            self.assertEqual(data[:CHUNK], bytes(CHUNK))
            chunks = [data[i:i + CHUNK] for i in range(CHUNK, size, CHUNK)]
            for i, chunk in enumerate(chunks, 1):
                self.assertIn(chunk, (IMAGE_BYTES[i * CHUNK:(i + 1) * CHUNK], b"\xee" * len(chunk),
                                      bytes(len(chunk))), "chunk %d" % i)
            self.assertNotEqual(data[CHUNK:size], IMAGE_BYTES[CHUNK:])

    def act(self, s, server, page, row, drive_dir):
        d = s.driver
        if row.act == "cancel":
            d.click(page, CANCEL)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
        elif row.act == "close":
            d.close(page)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
        elif row.act == "truncate":
            with open(downloaded_image(s), "r+b") as f:
                f.truncate(len(IMAGE_BYTES) // 2)
        elif row.act == "resize":  # another device of another size takes the letter
            subprocess.run(["mount", "-o", "remount,size=%d" % (96 * MIB), drive_dir], check=True)
            server.control(interval=0.001)  # and the rest of the image comes quickly

    def run_row(self, s, server, drive_page, index, row, volume, drive_dir):
        """Runs one row from the drive selection page; returns the page it ends on."""
        d = s.driver
        server.control(mode=row.server, interval=0.2)
        fill_file(volume, MIB, b"\xdd")
        with FakeStick(s, "stick%d" % index, **row.stick) as stick:
            page = create_on(d, drive_page)
            if row.at:
                watch(d, page, lambda x: row.at == "open" or row.at in (x["status"] or ""),
                      interval=0.02, timeout=60)
                self.act(s, server, page, row, drive_dir)
            for caption, text in row.boxes:
                box, shown = d.expect_message(caption, timeout=40)
                self.assertEqual(shown, text)
                d.answer(box, "ok")
                d.wait_gone(box, timeout=5)
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=20)
            self.assertEqual(message_boxes(d), [], "no further message")
            self.assertFalse(d.exists(page))
            if row.disk:
                self.assert_disk(stick.path, row.disk)
        # The volume is wiped only once the write has begun, and only its first 64 KiB.
        wiped = row.disk != "untouched"
        self.assertTrue(is_filled(volume, b"\0" if wiped else b"\xdd", 0, CHUNK))
        self.assertTrue(is_filled(volume, b"\xdd", CHUNK))
        if row.act == "resize":
            subprocess.run(["mount", "-o", "remount,size=%d" % (64 * MIB), drive_dir], check=True)
        return drive_page

    def test_every_ending_returns_to_the_drive_page_and_a_new_run_then_succeeds(self):
        with WineSession("run-endings", accept_agreement=True) as s, \
                ImageServer(IMAGE, mode="normal", trickle_bytes=16384, trickle_interval=0.2) as server:
            _, volume = add_target_drive(s, size_bytes=64 * MIB)
            drive_dir = s.path("drive_e")
            env = dict(server.program_env(), HALCYRA_DOWNLOAD_STALL_SECONDS="4")
            program = s.start_program(env=env)
            d = s.driver
            drive_page = open_drive_page(d)
            for index, row in enumerate(ROWS):
                with self.subTest(row.name):
                    drive_page = self.run_row(s, server, drive_page, index, row, volume, drive_dir)

            # After all of them, a whole run: written, read back, and the program ends.
            server.control(mode="normal")
            with FakeStick(s, "stick", **FAST) as stick:
                create_on(d, drive_page)
                box, text = d.expect_message("Operation Complete", timeout=60)
                self.assertEqual(text, SUCCESS)
                d.answer(box, "ok")
                self.assertEqual(program.wait(30), 0)
                self.assert_disk(stick.path, "image")

    def test_volume_that_cannot_be_opened_asks_again_and_no_leaves_the_page_open(self):
        with WineSession("run-no-volume", accept_agreement=True) as s, ImageServer(IMAGE) as server:
            disk, volume = add_target_drive(s)
            program = s.start_program(env=server.program_env())
            d = s.driver
            drive_page = open_drive_page(d)
            # A device link to a directory can't be opened for writing.
            os.makedirs(s.path("not_a_volume"), exist_ok=True)
            s.link_device("e::", s.path("not_a_volume"))
            page = create_on(d, drive_page)
            for answer in ("yes", "no"):
                box, text = d.expect_message("Write Error", timeout=40)
                self.assertEqual(text, OPEN_FAILED)
                d.answer(box, answer)
                d.wait_gone(box, timeout=5)
            box, text = d.expect_message("Cancelled")
            d.answer(box, "ok")
            # The declined ending: the page stays, idle, and its close box leaves the program.
            wait_until(lambda: message_boxes(d) == [] and d.exists(page), timeout=5)
            self.assertEqual(d.text(page, STATUS), "Creating Halcyra USB Flash Drive...")
            self.assertTrue(is_filled(disk, b"\xee"))
            d.close(page)
            self.assertEqual(program.wait(30), 0)

    def test_the_end_waits_at_most_thirty_seconds_for_a_write_that_never_returns(self):
        with WineSession("run-stuck", accept_agreement=True) as s, ImageServer(IMAGE) as server:
            add_target_drive(s)
            program = s.start_program(env=server.program_env())
            d = s.driver
            # A stick whose writes take two minutes: the run's first chunk never comes back.
            with FakeStick(s, "stuck", size=16 * MIB, delay_ms=120000):
                page = create_on(d, open_drive_page(d))
                watch(d, page, lambda x: "Creating" in (x["status"] or ""), timeout=60)
                d.close(page)
                d.answer(d.wait_message_box("Are you sure?"), "yes")
                drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
                d.click(drive_page, DRIVE_PAGE_CANCEL)
                # The program ends on its own, long before the write could have returned.
                self.assertEqual(program.wait(60), 0)


if __name__ == "__main__":
    unittest.main()
