"""The image kept from the last download, through the real program: each run asks the server
again and writes the kept image without a second transfer while the server still serves it
(the server counts the image bodies it sends whole); a replaced image, a kept file altered by
one byte and a server without ETag and Last-Modified are downloaded again, and so is the image
when a 304 names another ETag than the kept one. A cancel while the
download is hashed and while the kept image is checked ends as a download's cancel: the
Cancelled box, the drive selection page and nothing written. The rows run one after another
in one prefix, each from the drive selection page the row before left or from a new start of
the program, and each scenario ends with the image verified on the stick. No row leaves a copy
of an image in the browser cache, also not when the server redirects the request; a download
cancelled midway leaves its unfinished copy only until the next start's download."""

import calendar
import glob
import hashlib
import os
import shutil
import sys
import tempfile
import time
import unittest
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import SOURCE_DIR, WineSession  # noqa: E402
from creation_flow import (CANCEL, CANCELLED, CHECKING, DRIVE_LIST, PAGE, SUCCESS,  # noqa: E402
                           USING_KEPT, FakeStick, ImageServer, add_target_drive,
                           build_demo_image, cached_copies, create_on, downloaded_image, fill_file,
                           message_boxes, open_drive_page, run_log, starts_with_file, watch)

MIB = 1 << 20
SHOTS = os.environ.get("HALCYRA_SHOTS_DIR", os.path.join(SOURCE_DIR, "out", "screens"))
WORK = tempfile.mkdtemp(prefix="halcyra-kept-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))
NEWER = build_demo_image(os.path.join(WORK, "newer.img"), 3 * MIB + 777)
# Each hash pauses after every MiB, so that a row can act while it runs.
ENV = {"HALCYRA_CHECK_PAUSE_MS": "400"}


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def contents(path):
    with open(path, "rb") as f:
        return f.read()


def today():
    now = time.localtime()
    return "%d %s %d" % (now.tm_mday, calendar.month_name[now.tm_mon], now.tm_year)


# A row: whether the program starts anew for it, the server's settings for it, what happens to
# the kept image before it ("alter": one byte), the stick ("slow" and a new one, "same" as the
# row before, "plain": the session's disk file, refilled), when the user cancels (a word of the
# status line; None: the run goes to its end), whether the page says that it uses the kept
# image, how many image bodies the server sends whole (None: not counted), what the stick then
# holds (an image, or "unchanged" by the row), which image the record and the kept file then
# describe (None: there is no record), and what the run log must say.
Row = namedtuple("Row", "name start server before stick at kept bodies disk record log")

ROWS = [
    Row("first run, Cancel while the download is hashed", True, {}, None, "slow", CHECKING,
        False, 1, "unchanged", None,
        ("kept image: no image is kept; the image is downloaded", "stopped (cancel or close)")),
    # Wine holds the unfinished download's cache file open until the program ends: the next
    # start's download removes it.
    Row("Create again: Cancel midway through a slow download", False, {"rate": MIB}, None,
        "same", "Downloaded", False, 0, "unchanged", None,
        ("the cache's copy of the unfinished download is still in use",)),
    Row("Create again: downloaded again, Cancel during the write", False, {"rate": 0}, None,
        "same", "Written", False, 1, None, IMAGE, ("kept image: record written: ETag \"",)),
    Row("Create again: the kept image, Cancel while it is checked", False, {}, None, "same",
        USING_KEPT % "", True, 0, "unchanged", IMAGE,
        ("the server still serves the kept image (asked with If-None-Match); the transfer "
         "stops at the headers", "stopped (cancel or close)")),
    Row("Create again: the kept image is written", False, {}, None, "same", None, True, 0,
        IMAGE, IMAGE, ("kept image: intact; it is written",)),
    Row("a second start for a second stick: the kept image", True, {}, None, "plain", None,
        True, 0, IMAGE, IMAGE, ("kept image: intact; it is written",)),
    Row("the kept image altered by one byte: downloaded again", True, {}, "alter", "plain",
        None, True, 1, IMAGE, IMAGE,
        ("kept image: altered", "the record is removed and the image downloaded")),
    # Under Wine, urlmon still reads such a body to its end: its transfer is not counted.
    Row("a server that ignores If-None-Match: stopped at the headers", True,
        {"conditional": 0}, None, "plain", None, True, None, IMAGE, IMAGE,
        ("download: response 200 OK", "the server still serves the kept image",
         "kept image: intact; it is written")),
    # A proxy's 304 that names the kept ETag made weak, then one that names another: neither
    # shows the kept image, and neither run ends there.
    Row("a 304 with the ETag made weak: asked again, downloaded", True,
        {"conditional": 1, "not_modified": "weak"}, None, "plain", None, False, 1, IMAGE, IMAGE,
        ("response 304", "the request is made again without If-None-Match",
         "kept image: record written")),
    Row("the next run, a 304 with another ETag: downloaded again", True,
        {"not_modified": "other"}, None, "plain", None, False, 1, IMAGE, IMAGE,
        ("the request is made again without If-None-Match",)),
    # The cache keeps a redirected download under the address it was redirected to.
    Row("the server's image replaced, redirected: downloaded again", True,
        {"not_modified": "", "image": NEWER, "mode": "redirect"}, None, "plain", None, False, 1,
        NEWER, NEWER,
        ("the server's image has changed", "copy of the download removed (stored for")),
    Row("a server without ETag and Last-Modified: downloaded again", True,
        {"validators": 0, "mode": "normal"},
        None, "plain", None, False, 1, NEWER, NEWER,
        ("the server sends neither an ETag nor a Last-Modified",)),
]


class KeptImage(unittest.TestCase):
    def assert_kept(self, s, image):
        """The kept file holds `image` and its record describes it (none when image is None);
        no download file is left."""
        kept = downloaded_image(s)
        self.assertEqual(glob.glob(os.path.join(os.path.dirname(kept), "HalcyraDownload-*")), [])
        record_path = os.path.join(os.path.dirname(kept), "HalcyraImage.txt")
        if image is None:
            self.assertFalse(os.path.exists(record_path), "no record")
            return
        data = contents(image)
        self.assertTrue(contents(kept) == data, "the kept file is the image")
        lines = contents(record_path).decode("latin-1").split("\r\n")
        self.assertEqual(lines[0], "Halcyra Creator image record")
        fields = dict(line.split(": ", 1) for line in lines[1:] if ": " in line)
        self.assertEqual(fields["Content-Length"], str(len(data)))
        self.assertEqual(fields["SHA-256"], hashlib.sha256(data).hexdigest())

    def run_row(self, s, server, state, row):
        """One row from the drive selection page (or from a new start); `state` carries the
        program, its drive page, the stick and the session's disk from row to row."""
        d = s.driver
        if row.server:
            server.control(**row.server)
        if row.before == "alter":
            with open(downloaded_image(s), "r+b") as f:
                f.seek(2 * MIB + 5)
                byte = f.read(1)
                f.seek(2 * MIB + 5)
                f.write(bytes([byte[0] ^ 0x01]))
        if row.stick != "same":
            if state.get("stick"):
                state.pop("stick").__exit__(None, None, None)
            if row.stick == "slow":
                state["stick"] = FakeStick(s, "stick%d" % state["index"], size=16 * MIB,
                                           delay_ms=40).__enter__()
            else:
                fill_file(state["disk"], 16 * MIB, b"\xee")
                s.link_device("physicaldrive1", state["disk"])
        stick = state["stick"].path if state.get("stick") else state["disk"]
        if row.start:
            state["program"] = s.start_program(env=dict(server.program_env(), **ENV))
            state["drive_page"] = open_drive_page(d)
        before = contents(stick)
        bodies, log_start = server.bodies(), len(run_log(s))

        page = create_on(d, state["drive_page"])

        def shoot(sample):
            if (sample["status"] or "").startswith(USING_KEPT % "") and not state.get("shot"):
                state["shot"] = s.screenshot(os.path.join(SHOTS, "test_kept_image.png"))

        samples = watch(d, page, lambda x: (row.at in (x["status"] or "")) if row.at
                        else message_boxes(d), interval=0.02, timeout=120, on_sample=shoot)
        if row.at:
            d.click(page, CANCEL)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            box, text = d.expect_message("Cancelled", timeout=30)
            self.assertEqual(text, CANCELLED)
            d.answer(box, "ok")
            state["drive_page"] = d.wait_window(PAGE, control=DRIVE_LIST, timeout=20)
            self.assertEqual(message_boxes(d), [], "no further message")
        else:
            box, text = d.expect_message("Operation Complete", timeout=120)
            self.assertEqual(text, SUCCESS)
            d.answer(box, "ok")
            self.assertEqual(state.pop("program").wait(30), 0)
        statuses = {x["status"] for x in samples}
        self.assertEqual(USING_KEPT % today() in statuses, row.kept, sorted(filter(None, statuses)))
        if row.bodies is not None:
            self.assertEqual(server.bodies() - bodies, row.bodies, "image bodies sent")
        if row.disk == "unchanged":
            self.assertTrue(contents(stick) == before, "nothing written")
        elif row.disk:
            self.assertTrue(starts_with_file(stick, row.disk), "the image on the stick")
        self.assert_kept(s, row.record)
        sizes = (os.path.getsize(IMAGE), os.path.getsize(NEWER))
        self.assertEqual(cached_copies(s, sizes), [], "no copy of an image in the browser cache")
        if row.start:  # the download of a new start removes what earlier ones left
            self.assertEqual(cached_copies(s), [], "nothing left in the browser cache")
        logged = run_log(s)[log_start:]
        for fragment in row.log:
            self.assertIn(fragment, logged, "the run log")

    def test_the_kept_image_is_written_while_the_server_still_serves_it(self):
        with WineSession("kept-image", accept_agreement=True) as s, ImageServer(IMAGE) as server:
            disk, _ = add_target_drive(s)
            state = {"disk": disk}
            try:
                for index, row in enumerate(ROWS):
                    state["index"] = index
                    with self.subTest(row.name):
                        self.run_row(s, server, state, row)
            finally:
                if state.get("stick"):
                    state["stick"].__exit__(None, None, None)
            self.assertNotIn("program", state, "the last row ends the program")


if __name__ == "__main__":
    unittest.main()
