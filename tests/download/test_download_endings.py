"""Every way the download of a creation run can end, reached through the real program as a user
reaches it: what the server sends (a sign-in page, a file without the boot signature, an error
status, a connection closed early, nothing at all), a folder of the run's files that is full or
can't be written, no server, and a cancel while the download stalls. The test checks the message boxes
in order, that the program is back on the drive selection page, and that the stick and its
volume are byte for byte unchanged. The rows run one after another in one program, each from
the drive selection page the last one left; the last row's download is still held by the
server when the program ends them with a whole run, during whose write the server lets that
given-up download finish: the new run writes and verifies its own image. No row leaves a copy of
an image in the browser cache. A second scenario puts the browser cache on a small drive of its
own, where the download's copy and the platform's can't both fit: the run ends at the headers
and says how much room it needs and how much is free."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import REG_SZ, WineSession  # noqa: E402
from creation_flow import (CANCEL, CANCELLED, DATA_FOLDER, DRIVE_LIST, FOLDER_FULL, FOLDER_READ_ONLY,  # noqa: E402
                           INCOMPLETE, NO_CONNECTION, NO_DATA, NOT_AN_IMAGE, PAGE, ROOM_FOR_BOTH,
                           ROOM_FOR_CACHE, SERVER_ANSWERED, SUCCESS, WEB_PAGE, FakeStick,
                           ImageServer, add_target_drive, build_demo_image, cache_folder,
                           cached_copies, create_on, download_error, format_size, is_filled,
                           message_boxes, open_drive_page, run_log, starts_with_file, watch)

MIB = 1 << 20
STALL_SECONDS = 5

WORK = tempfile.mkdtemp(prefix="halcyra-download-endings-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))
# The image of the last run: another length, so other bytes at every offset past the first
# sector.
NEWER = build_demo_image(os.path.join(WORK, "newer.img"), 3 * MIB + 777)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


# A row: the server's mode, what else is set up ("no server", "folder full", "folder read-only"),
# when the user acts ("held": once the server holds the download after its first piece) and
# what they do, the boxes they see (caption, text; "{folder}" stands for the program's folder),
# within how many seconds of the action the first box must be up, and what the run log must say
# of the row, so that support can tell the endings apart.
Row = namedtuple("Row", "name server setup at act boxes within log", defaults=((),))
CANCEL_BOX = ("Cancelled", CANCELLED)


def error_box(cause):
    return ("Download Error", download_error(cause))


ROWS = [
    Row("sign-in page, 200 text/html", "signin", None, None, None, [error_box(WEB_PAGE)], None,
        log=('Content-Type "text/html', "image check failed (a web page)")),
    Row("the same page as application/octet-stream", "signinbin", None, None, None,
        [error_box(WEB_PAGE)], None),
    Row("the announced length without the boot signature", "nosig", None, None, None,
        [error_box(NOT_AN_IMAGE)], None),
    Row("404", "404", None, None, None, [error_box(SERVER_ANSWERED % "404 Not Found")], None,
        log=("download: request http://127.0.0.1:", "download: response 404 Not Found",
             "outcome: the server answered with an error", "page progress ended: stopped")),
    Row("500", "500", None, None, None,
        [error_box(SERVER_ANSWERED % "500 Internal Server Error")], None),
    Row("connection closed halfway", "drop", None, None, None, [error_box(INCOMPLETE)], None),
    Row("no server", "normal", "no server", None, None, [error_box(NO_CONNECTION)], None),
    Row("server sends nothing", "stall", None, None, None,
        [error_box(NO_DATA % STALL_SECONDS)], None),
    Row("the program's folder full", "normal", "folder full", None, None,
        [error_box(FOLDER_FULL % "{folder}")], None),
    Row("the program's folder read-only", "normal", "folder read-only", None, None,
        [error_box(FOLDER_READ_ONLY % "{folder}")], None),
    # Stays held by the server: the whole run that follows the rows lets it finish late.
    Row("stalled download, Cancel Yes", "hold", None, "held", "cancel", [CANCEL_BOX], 2),
]


# The browser cache on a tmpfs of its own, the program started anew for each row: alone and
# without room for one image, then with the folder of the download on it too and room for one
# image but not two. The download shares the cache's drive only in the temporary folder, which
# the program falls back to when it can't make its own folder (C:\ProgramData read-only).
# "{free}" stands for the free room the program found, "{cache}" for the cache folder or the
# folder of the cache's file in it.
SIZE = os.path.getsize(IMAGE)
ROOM_ROWS = [
    Row("the cache's drive without room for its copy", "normal", "small cache", None, None,
        [error_box(ROOM_FOR_CACHE % ("{cache}", format_size(SIZE), "{free}"))], 2),
    Row("room for the image but not for the cache's copy beside it", "normal", "cache beside",
        None, None, [error_box(ROOM_FOR_BOTH % ("{folder}", format_size(2 * SIZE), "{free}"))], 2,
        log=("no room for the image and the cache's copy on the download folder's drive",)),
]


class DownloadEndings(unittest.TestCase):
    def data_folder(self, s):
        """(Windows path, host path) of the folder of the program's files."""
        return "C:\\" + "\\".join(DATA_FOLDER), s.c_drive(*DATA_FOLDER)

    def windows_path(self, s, path):
        return "C:\\" + os.path.relpath(path, s.c_drive()).replace("/", "\\")

    def set_up_cache(self, s, row):
        """The browser cache on a tmpfs of the row's size before the program starts; with the
        folder of the download in it for "cache beside"."""
        cache = cache_folder(s)
        size = "size=%d" % (SIZE * 3 // 2 if row.setup == "cache beside" else SIZE // 2)
        if cache in s.mounts:
            subprocess.run(["mount", "-o", "remount," + size, cache], check=True)
        else:
            subprocess.run(["mount", "-t", "tmpfs", "-o", size, "tmpfs", cache], check=True)
            s.mounts.append(cache)
        folder = self.data_folder(s)
        if row.setup == "cache beside":
            os.makedirs(os.path.join(cache, "Temp"))
            for name in ("TEMP", "TMP"):
                s.driver.reg_set("HKCU", "Environment", name, REG_SZ,
                                 self.windows_path(s, os.path.join(cache, "Temp")))
            shutil.rmtree(s.c_drive(*DATA_FOLDER))
            program_data = s.c_drive("ProgramData")
            subprocess.run(["mount", "--bind", program_data, program_data], check=True)
            s.mounts.append(program_data)
            subprocess.run(["mount", "-o", "remount,ro,bind", program_data], check=True)
            folder = (self.windows_path(s, os.path.join(cache, "Temp")),
                      os.path.join(cache, "Temp"))
        s.restart_driver()  # the environment of the programs started from now on
        return folder

    def set_up(self, s, server, row, folder):
        """The row's own setup; returns what undoes it."""
        if row.setup == "no server":
            server.stop()
            return server.start
        if row.setup in ("folder full", "folder read-only"):
            options = "size=%d" % MIB + (",ro" if row.setup == "folder read-only" else "")
            subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)
            s.mounts.append(folder)
            return lambda: (subprocess.run(["umount", "-l", folder], check=True),
                            s.mounts.remove(folder))
        return lambda: None

    def run_row(self, s, server, drive_page, row, disk, volume, folder):
        """Runs one row from the drive selection page; returns the page it ends on."""
        d = s.driver
        windows_folder, host_folder = folder
        server.control(mode=row.server)
        log_start = len(run_log(s))
        undo = self.set_up(s, server, row, host_folder)
        try:
            page = create_on(d, drive_page)
            acted = time.monotonic()
            if row.at == "held":
                # The page shows the first piece, then nothing more arrives.
                watch(d, page, lambda x: "Downloaded" in (x["status"] or ""), interval=0.05,
                      timeout=20)
                self.assertGreater(server.requests()[-1]["sent"], 0)
                acted = time.monotonic()
                if row.act == "cancel":
                    d.click(page, CANCEL)
                    d.answer(d.wait_message_box("Are you sure?"), "yes")
            for index, (caption, text) in enumerate(row.boxes):
                box, shown = d.expect_message(caption, timeout=40)
                if index == 0 and row.within:
                    self.assertLess(time.monotonic() - acted, row.within, "the box at once")
                expected = re.escape(text.replace("{folder}", windows_folder)).replace(
                    re.escape("{free}"), r"\d+(\.\d\d [KMG]B| Bytes)").replace(
                    re.escape("{cache}"),
                    re.escape(self.windows_path(s, cache_folder(s))) + r"(\\[^\\ ]+)*")
                self.assertRegex(shown, "^%s$" % expected)
                d.answer(box, "ok")
                d.wait_gone(box, timeout=5)
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=20)
            self.assertEqual(message_boxes(d), [], "no further message")
            self.assertFalse(d.exists(page))
        finally:
            undo()
        logged = run_log(s)[log_start:]
        for fragment in row.log:
            self.assertIn(fragment, logged, "the run log")
        self.assertTrue(is_filled(disk, b"\xee"), "the disk is unchanged")
        self.assertTrue(is_filled(volume, b"\xdd"), "the volume is unchanged")
        # Nothing of a failed download is kept: no image file, no download file; a download
        # given up on while it waits for the server keeps its file until its call returns.
        self.assertFalse(os.path.exists(os.path.join(host_folder, "HalcyraImage.bin")))
        if row.server in ("stall", "hold"):
            self.waiting += 1
        left = glob.glob(os.path.join(host_folder, "HalcyraDownload-*.tmp"))
        self.assertEqual(len(left), self.waiting, left)
        self.assertEqual(cached_copies(s, (SIZE,)), [], "no copy of the image in the browser cache")
        return drive_page

    def test_every_download_ending_then_a_late_given_up_download_leaves_the_new_run_alone(self):
        with WineSession("download-endings", accept_agreement=True) as s, \
                ImageServer(IMAGE, trickle_bytes=16384) as server:
            disk, volume = add_target_drive(s)
            folder = self.data_folder(s)
            settings = dict(server.program_settings(), TestStallSeconds=STALL_SECONDS)
            program = s.start_program(settings=settings)
            d = s.driver
            drive_page = open_drive_page(d)
            self.waiting = 0
            for row in ROWS:
                with self.subTest(row.name):
                    drive_page = self.run_row(s, server, drive_page, row, disk, volume, folder)

            # The held download was given up; the server serves a newer image now. While the
            # new run writes it, the server lets the old download go on to its end.
            held = server.requests()[-1]
            self.assertEqual(held["mode"], "hold")
            server.control(mode="normal", image=NEWER)
            with FakeStick(s, "stick", size=16 * MIB, delay_ms=40) as stick:
                page = create_on(d, drive_page)
                watch(d, page, lambda x: "Written" in (x["status"] or ""), interval=0.02,
                      timeout=60)
                server.control(release=1)
                box, text = d.expect_message("Operation Complete", timeout=60)
                completed = time.time()
                self.assertEqual(text, SUCCESS)
                held = server.requests()[-2]
                self.assertIn("released", held)
                self.assertIsNotNone(held.get("end_time"), "the old download ended")
                self.assertLess(held["end_time"], completed)
                d.answer(box, "ok")
                self.assertEqual(program.wait(30), 0)
                self.assertTrue(starts_with_file(stick.path, NEWER), "the new run's own image")
            with open(os.path.join(folder[1], "HalcyraImage.bin"), "rb") as kept, \
                    open(NEWER, "rb") as newer:
                self.assertEqual(kept.read(), newer.read(), "the image file is the new run's")
            self.assertEqual(glob.glob(os.path.join(folder[1], "HalcyraDownload-*.tmp")), [],
                             "no download file is left")

    def test_a_large_image_with_a_stall_limit_of_two_seconds_succeeds(self):
        # The platform reports a fast download only every few seconds and copies it into place
        # at the end without a report; neither may count as a stall.
        large = build_demo_image(os.path.join(WORK, "large.img"), 512 * MIB + 12345)
        try:
            with WineSession("download-large", accept_agreement=True) as s, \
                    ImageServer(large) as server:
                disk, _ = add_target_drive(s, disk_size=512 * MIB + MIB)
                program = s.start_program(settings=dict(server.program_settings(),
                                                        TestStallSeconds=2))
                d = s.driver
                page = create_on(d, open_drive_page(d))
                samples = watch(d, page, lambda _: message_boxes(d), interval=0.2, timeout=600)
                self.assertTrue([x for x in samples if "Downloaded" in (x["status"] or "")])
                caption = message_boxes(d)[0]
                box, text = d.expect_message(caption)
                self.assertEqual(caption, "Operation Complete", text)
                self.assertEqual(text, SUCCESS)
                d.answer(box, "ok")
                self.assertEqual(program.wait(30), 0)
                self.assertEqual([r["end"] for r in server.requests()], ["complete"])
                self.assertEqual(subprocess.run(["cmp", "-n", str(os.path.getsize(large)), disk,
                                                 large]).returncode, 0, "the disk holds the image")
        finally:
            os.unlink(large)

    def test_no_room_for_the_platforms_cache_copy_ends_at_the_headers(self):
        # A slow server: the box comes at once, not after the transfer.
        with WineSession("download-room", accept_agreement=True) as s, \
                ImageServer(IMAGE, rate=MIB // 2) as server:
            disk, volume = add_target_drive(s)
            self.waiting = 0
            for row in ROOM_ROWS:
                with self.subTest(row.name):
                    folder = self.set_up_cache(s, row)
                    program = s.start_program(settings=server.program_settings())
                    drive_page = self.run_row(s, server, open_drive_page(s.driver),
                                              row._replace(setup=None), disk, volume, folder)
                    s.driver.close(drive_page)
                    self.assertEqual(program.wait(30), 0)


if __name__ == "__main__":
    unittest.main()
