"""The whole creation run through the real program under Wine: welcome page, drive selection,
Create, the download from the stand-in server with its progress line, the write onto the
file-backed disk, and the endings, cancels and failures on the way."""

import os
import re
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import SOURCE_DIR, DriverError, WineSession, wait_until  # noqa: E402
from creation_flow import (BAR, CANCEL, CANCEL_QUESTION, CANCELLED, INCOMPLETE,  # noqa: E402
                           NO_CONNECTION, SERVER_ANSWERED, download_error,
                           DOWNLOADING, DRIVE_LIST, DRIVE_STATUS, NEXT, PAGE, PAGE_TEXT, STATUS,
                           SUCCESS, TIME_LEFT_TEXT, WAIT_NOTICE_TEXT, FakeStick, ImageServer,
                           add_target_drive, boots,
                           build_demo_image, create_on, message_boxes, open_drive_page,
                           open_progress_page, starts_with_file, is_filled, watch)

DRIVE_PAGE_CANCEL = 4
SHOTS = os.environ.get("HALCYRA_SHOTS_DIR", os.path.join(SOURCE_DIR, "out", "screens"))
# The progress lines, then the time left once there is a rate.
DOWNLOAD_LINE = re.compile(r"^\d+(\.\d\d)? (Bytes|KB|MB) of 4\.01 MB Downloaded "
                           r"\(\d+(\.\d\d)? (Bytes|KB|MB)/s\)(%s)?$" % TIME_LEFT_TEXT)
WRITE_LINE = re.compile(r"^\d+(\.\d\d)? (KB|MB) of 4\.01 MB (Written|Verified) \(\d+%%\)(%s)?$"
                        % TIME_LEFT_TEXT)
PAGE_INTRO = ("The latest version of the application is now being downloaded and installed on "
              "to removable drive E:")

WORK = tempfile.mkdtemp(prefix="halcyra-creation-")
DEMO = build_demo_image(os.path.join(WORK, "demo.img"))
DEMO_SIZE = os.path.getsize(DEMO)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def padded_end(size, sector=512):
    return (size + sector - 1) // sector * sector


class CreationRunCase(unittest.TestCase):
    def assert_disk_holds_image(self, disk, image=DEMO):
        size = os.path.getsize(image)
        self.assertTrue(starts_with_file(disk, image), "the disk holds the image from offset 0")
        end = padded_end(size)
        self.assertTrue(is_filled(disk, b"\0", size, end - size), "only zeros pad the last sector")
        self.assertTrue(is_filled(disk, b"\xee", end), "nothing is written past the image")

    def assert_untouched(self, disk, volume):
        self.assertTrue(is_filled(disk, b"\xee"), "the disk is untouched")
        self.assertTrue(is_filled(volume, b"\xdd"), "the volume is untouched")

    def assert_no_box_for(self, driver, seconds, also=None):
        """No message box opens for `seconds`; `also()` is checked on the way."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(message_boxes(driver), [])
            if also:
                also()
            time.sleep(0.1)

    def answer_download_error(self, driver, cause):
        box, text = driver.expect_message("Download Error", timeout=30)
        self.assertEqual(text, download_error(cause))
        driver.answer(box, "ok")
        driver.wait_gone(box, timeout=5)
        page = driver.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
        self.assertEqual(message_boxes(driver), [], "one Download Error message only")
        return page


class WholeRun(CreationRunCase):
    def test_full_run_writes_the_served_image_which_boots(self):
        os.makedirs(SHOTS, exist_ok=True)
        with WineSession("creation-full", accept_agreement=True) as s, ImageServer(DEMO, rate=1500000) as server:
            disk, _ = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            page = open_progress_page(d)
            self.assertEqual(d.text(page, PAGE_TEXT), PAGE_INTRO)
            self.assertFalse(d.enabled(page, NEXT))
            shots = {}

            def shoot(sample):
                status = sample["status"] or ""
                for key, word in (("download", "Downloaded"), ("write", "Written")):
                    if word in status and key not in shots:
                        shots[key] = s.screenshot(os.path.join(SHOTS, "test_progress_%s.png" % key))

            samples = watch(d, page, lambda _: d.find_message_box("Operation Complete"),
                            on_sample=shoot)
            statuses = [x["status"] for x in samples if x["status"]]
            downloads = [t for t in statuses if "Downloaded" in t]
            self.assertTrue(downloads, statuses)
            for line in downloads:
                self.assertRegex(line, DOWNLOAD_LINE)
            for line in statuses:
                self.assertTrue(line in (DOWNLOADING, "Creating Halcyra USB Flash Drive...",
                                         "Verifying")
                                or DOWNLOAD_LINE.match(line) or WRITE_LINE.match(line), line)
            # The success box is up: the last line and the bar show the whole image read back.
            self.assertEqual(d.text(page, STATUS), "4.01 MB of 4.01 MB Verified (100%)")
            self.assertEqual(d.progress_pos(page, BAR), 100)
            box, text = d.expect_message("Operation Complete")
            self.assertEqual(text, SUCCESS)
            d.answer(box, "ok")
            self.assertEqual(program.wait(30), 0)

            [request] = server.requests()
            self.assertEqual(request["end"], "complete")
            self.assertTrue(0 <= request["rand"] <= 32767)
            self.assert_disk_holds_image(disk)
            self.assertTrue(boots(disk, timeout=60), "the written disk boots and shows the banner")

    def test_page_answers_within_a_second_through_download_write_and_read_back(self):
        big = build_demo_image(os.path.join(WORK, "big.img"), 16 * 1024 * 1024 + 12345)
        with WineSession("creation-responsive", accept_agreement=True) as s, \
                ImageServer(big, rate=4000000) as server:
            add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            drive_page = open_drive_page(d)
            # A stick of USB 2 speed, so that write and read-back last a few seconds each.
            with FakeStick(s, "stick", size=32 << 20, delay_ms=10) as stick:
                page = create_on(d, drive_page)
                samples = watch(d, page, lambda _: d.find_message_box("Operation Complete"),
                                interval=0.02)
                phases = {"Downloaded": [], "Written": [], "Verified": []}
                for x in samples:
                    for word, pings in phases.items():
                        if x["status"] and word in x["status"]:
                            pings.append(x["ping"])
                for word, pings in phases.items():
                    self.assertTrue(pings, "no samples while %s" % word)
                    self.assertLess(max(pings), 1000, "%s: worst answer %d ms" % (word, max(pings)))
                d.answer(d.wait_message_box("Operation Complete"), "ok")
                self.assertEqual(program.wait(30), 0)
                self.assertTrue(starts_with_file(stick.path, big))


def confirm_cancel(d, page):
    """Cancel answered Yes: the page shows the cancelled text at once."""
    d.click(page, CANCEL)
    d.answer(d.wait_message_box("Are you sure?"), "yes")
    wait_until(lambda: d.text(page, STATUS) == CANCELLED, timeout=1,
               message="the cancelled text at once")


class Cancelling(CreationRunCase):
    def test_cancel_during_download_no_goes_on_yes_stops_and_reopens_drive_page(self):
        with WineSession("creation-cancel", accept_agreement=True) as s, \
                ImageServer(DEMO, mode="trickle", trickle_bytes=16384, trickle_interval=0.2) as server:
            disk, volume = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            page = open_progress_page(d)
            first = watch(d, page, lambda x: "Downloaded" in (x["status"] or ""), timeout=20)[-1]

            d.click(page, CANCEL)
            box, text = d.expect_message("Are you sure?")
            self.assertEqual(text, CANCEL_QUESTION)
            d.answer(box, "no")
            later = watch(d, page, lambda x: x["status"] != first["status"], timeout=10)[-1]
            self.assertRegex(later["status"], DOWNLOAD_LINE, "the run goes on after No")

            confirm_cancel(d, page)
            box, text = d.expect_message("Cancelled", timeout=10)
            self.assertEqual(text, CANCELLED)
            d.answer(box, "ok")
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            wait_until(lambda: server.requests()[0]["end"] == "cut", timeout=10,
                       message="the download stopped")
            self.assertLess(server.requests()[0]["sent"], DEMO_SIZE)
            self.assert_untouched(disk, volume)
            d.click(drive_page, DRIVE_PAGE_CANCEL)
            self.assertEqual(program.wait(30), 0)

    def test_without_a_length_bar_and_status_stay_and_cancel_still_stops(self):
        with WineSession("creation-nolength", accept_agreement=True) as s, \
                ImageServer(DEMO, mode="nolength", rate=150000) as server:
            disk, volume = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            page = open_progress_page(d)
            # At least 3.5 s, and until 2 s of the download have arrived (a loaded machine
            # starts it later).
            samples = watch(d, page, lambda x: x["t"] > 3.5 and server.requests()
                            and server.requests()[0]["sent"] > 300000)
            self.assertEqual({x["status"] for x in samples}, {DOWNLOADING})
            self.assertEqual({x["bar"] for x in samples}, {0})
            self.assertGreater(server.requests()[0]["sent"], 300000, "the download runs meanwhile")

            confirm_cancel(d, page)
            wait_until(lambda: server.requests()[0]["end"] == "cut", timeout=5,
                       message="the download stopped")
            box, text = d.expect_message("Cancelled", timeout=10)
            d.answer(box, "ok")
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            self.assert_untouched(disk, volume)
            d.click(drive_page, DRIVE_PAGE_CANCEL)
            self.assertEqual(program.wait(30), 0)


class ClosingThePage(CreationRunCase):
    def test_closed_page_is_left_alone_and_a_new_create_waits_for_the_old_worker(self):
        with WineSession("creation-close", accept_agreement=True) as s, \
                ImageServer(DEMO, mode="trickle", trickle_bytes=8192, trickle_interval=1) as server:
            disk, volume = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver

            # Close answered No: the page stays and the download goes on.
            page = open_progress_page(d)
            wait_until(lambda: server.requests() and server.requests()[0]["sent"] > 0, timeout=20)
            d.close(page)
            box, text = d.expect_message("Are you sure?")
            self.assertEqual(text, CANCEL_QUESTION)
            d.answer(box, "no")
            time.sleep(1)
            self.assertTrue(d.exists(page))
            self.assertNotEqual(d.text(page, STATUS), CANCELLED)

            # Confirmed: the drive selection page opens at once; the old worker stops at its
            # next report and never touches that page.
            d.close(page)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=3)
            texts = (d.text(drive_page, DRIVE_STATUS), d.combo_items(drive_page, DRIVE_LIST))
            self.assert_no_box_for(d, 3.5, also=lambda: self.assertEqual(
                (d.text(drive_page, DRIVE_STATUS), d.combo_items(drive_page, DRIVE_LIST)), texts))
            self.assertTrue(d.exists(drive_page))
            self.assert_untouched(disk, volume)

            # Another run, closed while its download waits long between two pieces; a Create
            # right away waits, with a notice, until that worker has stopped.
            server.control(interval=6)
            page = create_on(d, drive_page)
            wait_until(lambda: len(server.requests()) == 2 and server.requests()[1]["sent"] > 0,
                       timeout=20)
            d.close(page)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            last_piece = server.requests()[1]["last_write"]
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=3)
            server.control(mode="normal")
            d.click(drive_page, NEXT)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            notice = d.wait_window(PAGE, control=WAIT_NOTICE_TEXT, timeout=5)
            self.assertIn("Please wait", d.text(notice, WAIT_NOTICE_TEXT))
            s.screenshot(os.path.join(SHOTS, "test_wait_notice.png"))
            page = d.wait_window(PAGE, control=BAR, timeout=20)
            self.assertFalse(d.exists(notice))
            new = wait_until(lambda: server.requests()[2:], timeout=10, message="the new request")[0]
            self.assertGreaterEqual(new["time"], last_piece + 6 - 0.5,
                                    "the new run started only after the old worker's next report")

            d.answer(d.wait_message_box("Operation Complete", timeout=60), "ok")
            self.assertEqual(program.wait(30), 0)
            self.assert_disk_holds_image(disk)

    def test_a_stalled_download_does_not_hold_the_program_at_its_end(self):
        with WineSession("creation-stall", accept_agreement=True) as s, ImageServer(DEMO, mode="stall") as server:
            disk, volume = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            page = open_progress_page(d)
            wait_until(lambda: server.requests() and server.requests()[0]["sent"] > 0, timeout=20)
            d.close(page)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=3)
            d.click(drive_page, DRIVE_PAGE_CANCEL)
            # The worker still waits for data that never comes; the end waits a little for it,
            # with the notice, and then goes.
            notice = d.wait_window(PAGE, control=WAIT_NOTICE_TEXT, timeout=5)
            self.assertTrue(notice)
            self.assertEqual(program.wait(20), 0)
            self.assert_untouched(disk, volume)


class DownloadFailures(CreationRunCase):
    def test_each_failure_shows_one_message_and_returns_to_the_drive_page(self):
        with WineSession("creation-failures", accept_agreement=True) as s, ImageServer(DEMO, mode="404") as server:
            disk, volume = add_target_drive(s)
            program = s.start_program(settings=server.program_settings())
            d = s.driver
            drive_page = None
            for mode, cause in (("404", SERVER_ANSWERED % "404 Not Found"),
                                ("500", SERVER_ANSWERED % "500 Internal Server Error"),
                                ("drop", INCOMPLETE)):
                server.control(mode=mode)
                page = create_on(d, drive_page) if drive_page else open_progress_page(d)
                drive_page = self.answer_download_error(d, cause)
                self.assertFalse(d.exists(page))
                self.assert_untouched(disk, volume)
            self.assertEqual([r["end"] for r in server.requests()], ["404", "500", "dropped"])

            # Nothing listening at the address.
            port = server.port
            first_start = server.requests()
            server.stop()
            create_on(d, drive_page)
            drive_page = self.answer_download_error(d, NO_CONNECTION)
            self.assert_untouched(disk, volume)
            d.click(drive_page, DRIVE_PAGE_CANCEL)
            self.assertEqual(program.wait(30), 0)

            # Every run of a start asks with its own Rand, and so does the next start.
            server.port = port
            server.mode = "404"
            server.start()
            program = s.start_program(settings=server.program_settings())
            open_progress_page(d)
            drive_page = self.answer_download_error(d, SERVER_ANSWERED % "404 Not Found")
            d.click(drive_page, DRIVE_PAGE_CANCEL)
            self.assertEqual(program.wait(30), 0)
            rands = [r["rand"] for r in first_start + server.requests()]
            self.assertEqual(len(rands), 4)
            self.assertNotIn(None, rands, "each Rand is a number from 0 to 32767")
            self.assertEqual(len(set(rands)), 4, rands)


if __name__ == "__main__":
    unittest.main()
