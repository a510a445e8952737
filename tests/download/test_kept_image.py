"""The image kept from the last download, through the real program: each run asks the server
again and writes the kept image without a second transfer while the server still serves it
(the server counts the image bodies it sends whole); a replaced image and a server without ETag
and Last-Modified are downloaded again. The kept image's SHA-256 is taken as it is written and
must be the recorded one before the stick's first chunk is written: a kept file altered by one
byte, held open for writing by another program, swapped while it is written, or planted with a
forged record where a program of the user can write, never reaches the stick as the finished
image; the server's image does. A download gets its record only once the stick holds it,
proven; so is the image downloaded when a 304 names another ETag than the kept one. No row
leaves a copy of an image in the browser cache, also not when the server redirects the request;
a download cancelled midway leaves its unfinished copy only until the next start's download.
The rows run one after another in one prefix, each from the drive selection page the row before
left or from a new start of the program."""

import glob
import hashlib
import os
import shutil
import sys
import tempfile
import unittest
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import REG_SZ, SETTINGS_KEY, WineSession  # noqa: E402
from creation_flow import (CANCEL, CANCELLED, DRIVE_LIST, PAGE, SUCCESS,  # noqa: E402
                           FakeStick, ImageServer, add_target_drive,
                           build_demo_image, cached_copies, create_on, downloaded_image,
                           fill_file, kept_record,
                           message_boxes, open_drive_page, run_log, starts_with_file, watch)

MIB = 1 << 20
WORK = tempfile.mkdtemp(prefix="halcyra-kept-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))
NEWER = build_demo_image(os.path.join(WORK, "newer.img"), 3 * MIB + 777)
OTHER = build_demo_image(os.path.join(WORK, "other.img"), 5 * MIB + 555)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def contents(path):
    with open(path, "rb") as f:
        return f.read()


# A row: whether the program starts anew for it, the server's settings for it, what another
# program does to the kept image ("alter": one byte before the run; "hold": keeps it open for
# writing through the run; "swap": writes and moves another image over it through the run;
# "swap written": the same once the write has begun, with the kept file open for it;
# "forge": plants another image with a record that fits it where a program of the user can
# write), the stick ("slow" and a new one, "same" as the row before, "plain": the session's
# disk file, refilled), when the user cancels (a word of the status line; None: the run goes to
# its end), whether the run writes the kept image (None: either), how many image bodies the
# server sends whole (None: not counted), the image the stick then holds (None: not looked at),
# which image the record and the kept file then describe (None: there is no record), and what
# the run log must say.
Row = namedtuple("Row", "name start server before stick at kept bodies disk record log")
KEPT = "kept image: written, and its SHA-256 compared with the record as it is written"
PROVEN = "kept image: its SHA-256 as written is the recorded one"

ROWS = [
    Row("first run, Cancel during the write: no record", True, {}, None, "slow", "Written",
        False, 1, None, None, ("kept image: no image is kept; the image is downloaded",)),
    # Wine may still hold the unfinished download's cache file open when its call returns (it
    # mostly does, until the program ends): then the next start's download removes it.
    Row("Create again: Cancel midway through a slow download", False, {"rate": MIB}, None,
        "same", "Downloaded", False, 0, "unchanged", None,
        ("the cache's copy of the unfinished download ",)),
    Row("Create again: downloaded again, the record once the stick is proven", False,
        {"rate": 0}, None, "same", None, False, 1, IMAGE, IMAGE,
        ("kept image: record written: ETag \"",)),
    Row("a new start: the kept image, Cancel during its write", True, {}, None, "slow",
        "Written", True, 0, None, IMAGE,
        ("the server still serves the kept image (asked with If-None-Match); the transfer "
         "stops at the headers",)),
    Row("Create again: the kept image is written", False, {}, None, "same", None, True, 0,
        IMAGE, IMAGE, (PROVEN,)),
    Row("a second start for a second stick: the kept image", True, {}, None, "plain", None,
        True, 0, IMAGE, IMAGE, (PROVEN,)),
    Row("the kept image altered by one byte: downloaded again", True, {}, "alter", "plain",
        None, True, 1, IMAGE, IMAGE,
        ("kept image: its SHA-256 as written differs from the record",
         "ending: the kept image is not the recorded one")),
    Row("the kept image held open for writing by another program: downloaded again", True, {},
        "hold", "plain", None, False, 1, IMAGE, IMAGE, ("its file can't be had alone",)),
    Row("the kept image swapped while it is written: the server's image", True, {}, "swap",
        "plain", None, None, None, IMAGE, IMAGE, ()),
    Row("the kept image swapped once its write has begun: the kept image", True, {},
        "swap written", "slow", None, True, 0, IMAGE, IMAGE, (PROVEN,)),
    Row("another image and a fitting record where the user can write: ignored", True, {},
        "forge", "plain", None, True, 0, IMAGE, IMAGE, (PROVEN,)),
    # Under Wine, urlmon still reads such a body to its end: its transfer is not counted.
    Row("a server that ignores If-None-Match: stopped at the headers", True,
        {"conditional": 0}, None, "plain", None, True, None, IMAGE, IMAGE,
        ("download: response 200 OK", "the server still serves the kept image", PROVEN)),
    Row("the server's image replaced: downloaded again", True, {"conditional": 1, "image": NEWER},
        None, "plain", None, False, 1, NEWER, NEWER, ("the server's image has changed",)),
    # A proxy's 304 that names the kept ETag made weak, then one that names another: neither
    # shows the kept image, and neither run ends there.
    Row("a 304 with the ETag made weak: asked again, downloaded", True,
        {"conditional": 1, "not_modified": "weak"}, None, "plain", None, False, 1, NEWER, NEWER,
        ("response 304", "the request is made again without If-None-Match",
         "kept image: record written")),
    Row("the next run, a 304 with another ETag: downloaded again", True,
        {"not_modified": "other"}, None, "plain", None, False, 1, NEWER, NEWER,
        ("the request is made again without If-None-Match",)),
    # The cache keeps a redirected download under the address it was redirected to.
    Row("the server's image replaced, redirected: downloaded again", True,
        {"not_modified": "", "image": IMAGE, "mode": "redirect"}, None, "plain", None, False, 1,
        IMAGE, IMAGE,
        ("the server's image has changed", "copy of the download removed (stored for")),
    Row("a server without ETag and Last-Modified: downloaded again", True,
        {"validators": 0, "mode": "normal"}, None, "plain", None, False, 1, IMAGE, IMAGE,
        ("the server sends neither an ETag nor a Last-Modified",)),
]


class KeptImage(unittest.TestCase):
    def assert_kept(self, s, image):
        """The kept file holds `image` and its record describes it (none when image is None);
        no download file is left."""
        kept = downloaded_image(s)
        self.assertEqual(glob.glob(os.path.join(os.path.dirname(kept), "HalcyraDownload-*")), [])
        record = kept_record(s)
        if image is None:
            self.assertEqual(record, "", "no record")
            return
        data = contents(image)
        self.assertTrue(contents(kept) == data, "the kept file is the image")
        lines = record.split("\n")
        self.assertEqual(lines[0], "Halcyra Creator image record")
        fields = dict(line.split(": ", 1) for line in lines[1:] if ": " in line)
        self.assertEqual(fields["Content-Length"], str(len(data)))
        self.assertEqual(fields["SHA-256"], hashlib.sha256(data).hexdigest())

    def contend(self, s, row):
        """What another program does to the kept image before and through the row; returns
        what stops it once the run's last box is up."""
        if row.before == "alter":
            with open(downloaded_image(s), "r+b") as f:
                f.seek(2 * MIB + 5)
                byte = f.read(1)
                f.seek(2 * MIB + 5)
                f.write(bytes([byte[0] ^ 0x01]))
        elif row.before == "forge":
            # Where the program kept it once (the temporary folder) and the user's own registry:
            # another image, with a record that would fit it.
            record = kept_record(s).replace(hashlib.sha256(contents(IMAGE)).hexdigest(),
                                            hashlib.sha256(contents(OTHER)).hexdigest())
            record = record.replace("Content-Length: %d" % len(contents(IMAGE)),
                                    "Content-Length: %d" % len(contents(OTHER)))
            temp = s.c_drive("users", self.user, "Temp")
            shutil.copy(OTHER, os.path.join(temp, "HalcyraImage.bin"))
            with open(os.path.join(temp, "HalcyraImage.txt"), "w", newline="\r\n") as f:
                f.write(record)
            s.driver.reg_set("HKCU", SETTINGS_KEY, "KeptImage", REG_SZ, record.replace("\n", "\r\n"))
        elif row.before in ("hold", "swap", "swap written"):
            stop = s.path("stop-%s" % row.before.replace(" ", "-"))
            kept = "C:\\ProgramData\\Halcyra Creator\\HalcyraImage.bin"
            args = ["hold", kept, stop] if row.before == "hold" else \
                ["swap", kept, "Z:" + OTHER.replace("/", "\\"), stop]
            contender = s.start_tool("file_contender.exe", args)
            self.assertIn(contender.process.stdout.readline().decode().strip(), ("held", "swapping"))

            def stop_it():
                open(stop, "w").close()
                self.assertEqual(contender.wait(30), 0)
                return contender.output().strip()
            return stop_it
        return lambda: ""

    def run_row(self, s, server, state, row):
        """One row from the drive selection page (or from a new start); `state` carries the
        program, its drive page, the stick and the session's disk from row to row."""
        d = s.driver
        if row.server:
            server.control(**row.server)
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
            state["program"] = s.start_program(settings=server.program_settings())
            state["drive_page"] = open_drive_page(d)
        before = contents(stick)
        stop_contender = self.contend(s, row) if row.before != "swap written" else None
        bodies, log_start = server.bodies(), len(run_log(s))

        page = create_on(d, state["drive_page"])
        if not stop_contender:
            watch(d, page, lambda x: "Written" in (x["status"] or ""), interval=0.02, timeout=60)
            stop_contender = self.contend(s, row)
        watch(d, page, lambda x: (row.at in (x["status"] or "")) if row.at else message_boxes(d),
              interval=0.02, timeout=120)
        if row.at:
            d.click(page, CANCEL)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            box, text = d.expect_message("Cancelled", timeout=30)
            self.assertEqual(text, CANCELLED)
            contender_said = stop_contender()
            d.answer(box, "ok")
            state["drive_page"] = d.wait_window(PAGE, control=DRIVE_LIST, timeout=20)
            self.assertEqual(message_boxes(d), [], "no further message")
        else:
            box, text = d.expect_message("Operation Complete", timeout=120)
            self.assertEqual(text, SUCCESS)
            contender_said = stop_contender()
            d.answer(box, "ok")
            self.assertEqual(state.pop("program").wait(30), 0)
        if row.before in ("swap", "swap written"):
            sys.stderr.write("%s: the other program: %s\n" % (row.name, contender_said))
            tries = int(contender_said.split()[-1])
            self.assertGreater(tries, 1, "it kept at it through the run")
            if row.before == "swap written":  # the file was open for the write all along
                self.assertEqual(contender_said, "wrote 0 moved 0 tries %d" % tries)
        logged = run_log(s)[log_start:]
        if row.kept is not None:
            self.assertEqual(KEPT in logged, row.kept, "the kept image written")
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
        for fragment in row.log:
            self.assertIn(fragment, logged, "the run log")

    def test_the_kept_image_is_written_while_the_server_still_serves_it(self):
        with WineSession("kept-image", accept_agreement=True) as s, ImageServer(IMAGE) as server:
            disk, _ = add_target_drive(s)
            self.user = next(u for u in os.listdir(s.c_drive("users")) if u != "Public")
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
