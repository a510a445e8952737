"""Every way a creation run can end, reached through the real program as a user reaches it:
the action or the fault of each row happens in its phase of the run, and the test checks the
message boxes in order, where the program goes next, what the stick and the volume hold, and
that the program ends with 0 when the user leaves. The rows run one after another in one
program, each from the drive selection page the last one left, and end with a whole run."""

import contextlib
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import WineSession, wait_until  # noqa: E402
from creation_flow import (BAR, CANCEL, CANCELLED, DATA_FOLDER, DENIED, DRIVE_LIST,  # noqa: E402
                           FAULT, FOLDER_READ_ONLY, GONE, NO_DATA, NO_ROOM, PAGE, SUCCESS,
                           TIME_LEFT, WAIT_NOTICE_TEXT, FakeStick, ImageServer,
                           add_target_drive, build_demo_image, create_on, download_error,
                           fill_file, is_filled, message_boxes,
                           open_drive_page, run_log, watch, with_cause)

CHUNK = 65536
MIB = 1 << 20
DATA_FOLDER_PATH = "C:\\" + "\\".join(DATA_FOLDER)
DRIVE_PAGE_CANCEL = 4
WRITE_FAILED = "An error occurred writing the Halcyra image to your USB Drive."
NOT_VERIFIED = ("The Halcyra image could not be verified on your USB Drive: the data read back "
                "differs from what was written. The drive may be faulty, or smaller than it reports.")
CHANGED = ("Drive E: has changed since it was chosen, so nothing has been written to it. Please "
           "choose the drive again.")
OPEN_FAILED = "Unable to open the USB drive. Would you like to try again?"
IN_USE = ("USB Drive is in use - please ensure any files on this drive are closed. Would you like "
          "to try again?")
STILL_BUSY = ("Drive E: is still busy with the previous creation run, which has not stopped yet. "
              "Please wait a moment, then click Next again.")
REFRESH = 1008

WORK = tempfile.mkdtemp(prefix="halcyra-endings-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))
with open(IMAGE, "rb") as f:
    IMAGE_BYTES = f.read()


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


# A row: the server's mode, the stick (FakeStick options, or SAME for the stick of the row
# before), when the user acts (a word of the status line, "open" for as soon as the page is up,
# "start" for before Create) and what they do, the boxes they see (caption, text and optionally
# the answer, "ok" by default), and what the stick then holds: "untouched", "partial", "unproven"
# (all but chunk 0) or "image". A row whose last box is the success ends the program. With
# nofs, the drive has no file system Windows reads (its folder link points nowhere); log lists
# what the run log must say of the row, so that support can tell the endings apart. With a rate
# (bytes per second) the server sends no faster, and the progress lines watched until the row
# acts must tell the time left of the download and of the write, but not in a line that ends
# its phase.
Row = namedtuple("Row", "name server stick at act boxes disk nofs log rate",
                 defaults=(False, (), 0))
FAST = dict(size=16 * MIB)
SLOW = dict(size=16 * MIB, delay_ms=40)
SAME = "same"
CANCEL_BOX = ("Cancelled", CANCELLED)
SUCCESS_BOX = ("Operation Complete", SUCCESS)


def refusing(errno_name):
    """A stick that takes its first MiB, then refuses every write with that errno."""
    return dict(size=16 * MIB, fail_after=MIB, fail_errno=errno_name)

# The same stick, written twice in one session: a cancel during the write, then Create again.
TWICE = [
    Row("no file system: write, Cancel Yes", "normal", SLOW, "Written", "cancel", [CANCEL_BOX],
        "partial", nofs=True),
    Row("the same stick again: a whole run", "normal", SAME, None, None, [SUCCESS_BOX], "image",
        nofs=True, log=("page: progress", "lock: 1 volume(s) of disk 1 locked", "write: ",
                        "read-back, with chunk 0 written last: ", "ending: success",
                        "page progress ended: finished or closed")),
]

ROWS = [
    # The program refuses its first volume lock (TestRefuseLocks), so this row comes first.
    Row("volume in use, No", "normal", FAST, None, None,
        [("Write Error", with_cause(IN_USE, DENIED), "no"), CANCEL_BOX], "untouched",
        log=("FSCTL_LOCK_VOLUME failed: error 5 (", "ending: the user declined to retry",
             "page progress ended: stopped")),
    Row("just opened, Cancel Yes", "trickle", FAST, "open", "cancel", [CANCEL_BOX], "untouched"),
    Row("server sends nothing", "stall", FAST, None, None, [("Download Error", download_error(NO_DATA % 4))],
        "untouched"),
    Row("pause before the lock, Cancel Yes", "normal", SLOW, "Creating", "cancel", [CANCEL_BOX],
        "untouched"),
    Row("volume can't be opened, Yes then No", "normal", FAST, "start", "novolume",
        [("Write Error", with_cause(OPEN_FAILED, DENIED), "yes"),
         ("Write Error", with_cause(OPEN_FAILED, DENIED), "no"), CANCEL_BOX], "untouched"),
    # The download can't be had alone: another program holds it open for writing.
    Row("the download held open by another program", "trickle", FAST, "Downloaded", "hold",
        [("Download Error", download_error(FOLDER_READ_ONLY % DATA_FOLDER_PATH))], "untouched"),
    Row("write, Cancel Yes", "normal", SLOW, "Written", "cancel", [CANCEL_BOX], "partial"),
    Row("write, close box Yes", "normal", SLOW, "Written", "close", [], "partial"),
    Row("disk smaller than the image", "normal", dict(size=2 * MIB), None, None,
        [("Drive Error", with_cause(WRITE_FAILED, NO_ROOM)), CANCEL_BOX], "partial"),
    # Writes refused as Wine maps the errno: EACCES 5, ENXIO 433, EIO 21, ENODEV 31.
    Row("a guard program refuses the write", "normal", refusing("EACCES"), None, None,
        [("Drive Error", with_cause(WRITE_FAILED, DENIED)), CANCEL_BOX], "partial",
        log=("WriteFile of 65536 bytes at offset 1048576 (0 moved) failed: error 5 (",
             "writer: a write to the disk failed (error 5)")),
    Row("stick pulled out", "normal", refusing("ENXIO"), None, None,
        [("Drive Error", with_cause(WRITE_FAILED, GONE)), CANCEL_BOX], "partial"),
    Row("stick stops answering", "normal", refusing("EIO"), None, None,
        [("Drive Error", with_cause(WRITE_FAILED, GONE)), CANCEL_BOX], "partial"),
    Row("stick with a failing medium", "normal", refusing("ENODEV"), None, None,
        [("Drive Error", with_cause(WRITE_FAILED, FAULT)), CANCEL_BOX], "partial"),
    # The disk can't be opened (its device link is a directory), or its link dangles and Wine
    # opens a stand-in that refuses the first write: either way the volume keeps every byte.
    Row("disk can't be opened", "normal", FAST, "start", "nodisk",
        [("Drive Error", with_cause(WRITE_FAILED, DENIED))], "untouched"),
    Row("disk gone", "normal", FAST, "start", "gonedisk",
        [("Drive Error", with_cause(WRITE_FAILED, "Bad device type (error 66).")), CANCEL_BOX],
        "untouched"),
    Row("image truncated while written", "normal", SLOW, "Written", "truncate", [CANCEL_BOX],
        "partial"),
    Row("stick smaller than it reports", "normal", dict(size=16 * MIB, keep=MIB), None, None,
        [("Drive Error", NOT_VERIFIED), CANCEL_BOX], None,
        log=("write: ", "read-back: the disk does not give back what was written",
             "ending: the write stopped")),
    Row("stick that keeps nothing", "normal", dict(size=16 * MIB, forget=True), None, None,
        [("Drive Error", NOT_VERIFIED), CANCEL_BOX], None),
    Row("stick with a failing byte", "normal", dict(size=16 * MIB, corrupt=3 * CHUNK + 5), None,
        None, [("Drive Error", NOT_VERIFIED), CANCEL_BOX], "unproven"),
    Row("verification, Cancel Yes", "normal", SLOW, "Verified", "cancel", [CANCEL_BOX],
        "unproven"),
    Row("a slow download and write tell the time left; Cancel Yes once verifying", "normal",
        dict(size=16 * MIB, delay_ms=60), "Verified", "cancel", [CANCEL_BOX], "unproven",
        rate=512 * 1024),
    Row("another stick under the letter during the download", "trickle", FAST, "Downloaded",
        "swap", [("Drive Error", CHANGED)], "untouched"),
] + TWICE


class RunEndings(unittest.TestCase):
    def assert_disk(self, stick, expected):
        """What the stick holds after a row: untouched, a partial image, the image without its
        first chunk, or the whole image."""
        with open(stick.path, "rb") as f:
            data = bytearray(f.read())
        if stick.corrupt >= 0:  # what the stick stores, not what it reads back
            data[stick.corrupt] ^= 0xFF
        size = len(IMAGE_BYTES)
        if expected == "untouched":
            self.assertEqual(data.count(b"\xee"), len(data), "the stick is untouched")
        elif expected == "image":
            self.assertTrue(data[:size] == IMAGE_BYTES, "the stick holds the image")
        elif expected in ("partial", "unproven"):
            # The first chunk stays zero until every other chunk is proven; every other chunk
            # is the image's own or untouched.
            self.assertEqual(data[:CHUNK], bytes(CHUNK))
            chunks = [data[i:min(i + CHUNK, size)] for i in range(CHUNK, size, CHUNK)]
            for i, chunk in enumerate(chunks, 1):
                self.assertTrue(chunk in (IMAGE_BYTES[i * CHUNK:(i + 1) * CHUNK],
                                          b"\xee" * len(chunk), bytes(len(chunk))), "chunk %d" % i)
            whole = data[CHUNK:size] == IMAGE_BYTES[CHUNK:]
            self.assertEqual(whole, expected == "unproven")

    def assert_time_left(self, lines):
        """Each phase's lines tell the time left once there is a rate; the download's last
        line, with every byte in, tells none."""
        for word in ("Downloaded", "Written"):
            told = [line for line in lines if word in line and TIME_LEFT.search(line)]
            self.assertTrue(told, "a time left in the %s lines: %r" % (word, sorted(set(lines))))
        last = [line for line in lines if "Downloaded" in line][-1]
        done, _, rest = last.partition(" of ")
        if rest.startswith(done + " "):
            self.assertIsNone(TIME_LEFT.search(last), last)

    def download_file(self, s):
        """The file of the run's download, which the write reads too: the one of the latest
        run (a given-up run's file stays until its download call returns)."""
        found = glob.glob(os.path.join(s.c_drive(*DATA_FOLDER), "HalcyraDownload-*.tmp"))
        self.assertTrue(found, "a download file")
        return max(found, key=lambda path: int(path.rsplit("-", 1)[1].split(".")[0]))

    def act(self, s, server, page, row, drive_dir):
        d = s.driver
        if row.act == "cancel":
            d.click(page, CANCEL)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
        elif row.act == "close":
            d.close(page)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
        elif row.act == "truncate":  # below the system's sharing rules, which would refuse it
            with open(self.download_file(s), "r+b") as f:
                f.truncate(len(IMAGE_BYTES) // 2)
        elif row.act == "hold":
            stop = s.path("stop-holding")
            windows = "C:\\ProgramData\\Halcyra Creator\\" + os.path.basename(self.download_file(s))
            holder = s.start_tool("file_contender.exe", ["hold", windows, stop])
            self.assertEqual(holder.process.stdout.readline().decode().strip(), "held")
            server.control(interval=0.001)  # and the rest of the image comes quickly
            self.release = lambda: (open(stop, "w").close(), holder.wait(30))
        elif row.act in ("novolume", "nodisk"):  # a link to a directory can't be opened to write
            os.makedirs(s.path("a_folder"), exist_ok=True)
            s.link_device("e::" if row.act == "novolume" else "physicaldrive1", s.path("a_folder"))
        elif row.act == "gonedisk":
            s.link_device("physicaldrive1", s.path("nowhere"))
        elif row.act == "swap":  # another device (a block device) takes the letter
            other = s.path("other_stick.img")
            fill_file(other, 16 * MIB, b"\xcc")
            loop = subprocess.run(["losetup", "-f", "--show", other], check=True,
                                  capture_output=True, text=True).stdout.strip()
            self.addCleanup(subprocess.run, ["losetup", "-d", loop], check=False)
            s.link_device("e::", loop)
            server.control(interval=0.001)  # and the rest of the image comes quickly

    def run_row(self, s, server, drive_page, row, volume, drive_dir, stick):
        """Runs one row from the drive selection page on `stick`; returns the page it ends on
        (None when the program has ended)."""
        d = s.driver
        server.control(mode=row.server, interval=0.2, rate=row.rate)
        fill_file(volume, MIB, b"\xdd")
        if row.nofs:
            s.link_device("e:", s.path("nowhere"))
            d.click(drive_page, REFRESH)
            wait_until(lambda: d.combo_items(drive_page, DRIVE_LIST) == ["E:\\"], timeout=10,
                       message="the drive listed without size or label")
        log_start = len(run_log(s))
        if row.at == "start":
            self.act(s, server, None, row, drive_dir)
        page = create_on(d, drive_page)
        if row.at and row.at != "start":
            samples = watch(d, page, lambda x: row.at == "open" or row.at in (x["status"] or ""),
                            interval=0.02, timeout=60)
            self.act(s, server, page, row, drive_dir)
            if row.rate:
                self.assert_time_left([x["status"] or "" for x in samples])
        for box_row in row.boxes:
            caption, text = box_row[:2]
            box, shown = d.expect_message(caption, timeout=40)
            self.assertEqual(shown, text)
            d.answer(box, box_row[2] if len(box_row) > 2 else "ok")
            d.wait_gone(box, timeout=5)
        if getattr(self, "release", None):  # another program lets go of what it held
            self.release()
            self.release = None
        if row.boxes and row.boxes[-1] == SUCCESS_BOX:
            drive_page = None
        else:
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=20)
            self.assertEqual(message_boxes(d), [], "no further message")
            self.assertFalse(d.exists(page))
        if row.disk:
            self.assert_disk(stick, row.disk)
        logged = run_log(s)[log_start:]
        for fragment in row.log:
            self.assertIn(fragment, logged, "the run log")
        if drive_page is None:  # a whole run: no lock is asked for twice, none fails
            self.assertNotIn("FSCTL_LOCK_VOLUME failed", logged)
        # The volume is wiped only once the write has begun, and only its first 64 KiB.
        wiped = row.disk != "untouched"
        self.assertTrue(is_filled(volume, b"\0" if wiped else b"\xdd", 0, CHUNK))
        self.assertTrue(is_filled(volume, b"\xdd", CHUNK))
        s.link_device("e:", drive_dir)
        s.link_device("e::", volume)
        return drive_page

    def run_rows(self, name, rows, validators=False, log=()):
        """The rows one after another in one program, each from the drive selection page the
        row before left; the last row ends the program with the success. Without validators
        (ETag and Last-Modified) every row downloads; with them a row may use the image kept
        by the one before. `log`: what the whole run log must say."""
        with WineSession(name, accept_agreement=True) as s, contextlib.ExitStack() as sticks, \
                ImageServer(IMAGE, mode="normal", validators=validators, trickle_bytes=16384,
                            trickle_interval=0.2) as server:
            _, volume = add_target_drive(s, size_bytes=64 * MIB)
            drive_dir = s.path("drive_e")
            settings = dict(server.program_settings(), TestStallSeconds=4,
                            TestRefuseLocks=1 if rows[0].name == "volume in use, No" else 0)
            program = s.start_program(settings=settings)
            drive_page = open_drive_page(s.driver)
            stick = None
            for index, row in enumerate(rows):
                with self.subTest(row.name):
                    if row.stick != SAME:
                        sticks.close()
                        stick = sticks.enter_context(FakeStick(s, "stick%d" % index, **row.stick))
                    drive_page = self.run_row(s, server, drive_page, row, volume, drive_dir, stick)
            self.assertIsNone(drive_page, "the last row ends the program")
            self.assertEqual(program.wait(30), 0)
            for fragment in log:
                self.assertIn(fragment, run_log(s), "the run log")

    def test_every_ending_returns_to_the_drive_page_and_a_new_run_then_succeeds(self):
        self.run_rows("run-endings", ROWS)

    def test_the_same_stick_without_a_file_system_is_written_twice(self):
        # An image is kept only once a stick holds it, proven: the cancelled first run keeps
        # none, so the second downloads it again, and keeps it.
        self.run_rows("run-twice", TWICE, validators=True,
                      log=("kept image: no image is kept; the image is downloaded",
                           "kept image: record written"))

    def test_a_write_that_never_returns_delays_create_and_the_end_at_most_thirty_seconds(self):
        with WineSession("run-stuck", accept_agreement=True) as s, ImageServer(IMAGE) as server:
            _, volume = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            # A stick whose writes take two minutes: the run's first chunk never comes back.
            with FakeStick(s, "stuck", size=16 * MIB, delay_ms=120000):
                create_on(d, open_drive_page(d))
                # The disk is opened right before its first write.
                wait_until(lambda: "PHYSICALDRIVE1 opened" in run_log(s), timeout=60,
                           message="the write begun")
                time.sleep(1)
                page = d.wait_window(PAGE, control=BAR)
                d.close(page)
                d.answer(d.wait_message_box("Are you sure?"), "yes")
                drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
                # Create again: the notice while the old run is waited for, then the user is
                # told the drive is busy and is back on the drive page.
                d.click(drive_page, 1)
                d.answer(d.wait_message_box("Are you sure?"), "yes")
                started = time.monotonic()
                d.wait_window("Halcyra Creator", control=WAIT_NOTICE_TEXT, timeout=10)
                box, text = d.expect_message("Drive Busy", timeout=45)
                self.assertEqual(text, STILL_BUSY)
                self.assertLess(time.monotonic() - started, 40)
                d.answer(box, "ok")
                drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
                d.click(drive_page, DRIVE_PAGE_CANCEL)
                # The program ends on its own, long before the write could have returned; the
                # disk never took its first write, so the volume keeps every byte.
                self.assertEqual(program.wait(60), 0)
                self.assertTrue(is_filled(volume, b"\xdd"), "the volume as it was")

if __name__ == "__main__":
    unittest.main()
