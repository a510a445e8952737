"""Nothing that a program of the user can write decides what the elevated program fetches,
writes or opens: each row sets up such an input (the user's environment and registry, a folder
planted under the name of the program's own, C:\\ProgramData that can't be written, a temporary
folder named with letters outside the code page), then starts the program and takes it through
a whole run onto the stick. The stick must get the image of the program's own setting
(ImageAddress), the program must end with 0, and the row's files must be where the row says."""

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
from harness import REG_BINARY, REG_SZ, SETTINGS_KEY, WineSession  # noqa: E402
from creation_flow import (DATA_FOLDER, SUCCESS, ImageServer, add_target_drive,  # noqa: E402
                           build_demo_image, create_on, fill_file, kept_record, open_drive_page,
                           starts_with_file)

MIB = 1 << 20
WORK = tempfile.mkdtemp(prefix="halcyra-admin-inputs-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))
OTHER = build_demo_image(os.path.join(WORK, "other.img"), 3 * MIB + 777)
GUIDE = "Halcyra Creator User Guide"
POLISH = "\u0141ukasz \u017bak"  # "Łukasz Żak": neither letter is in code page 1252


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


# A row: its set-up (a method of the test), where the run's files must land ("data": the
# program's folder under C:\ProgramData; "temp": the user's temporary folder), whether an image
# is kept for the next run, and what the run log must say.
Row = namedtuple("Row", "name setup files kept log")

ROWS = [
    Row("the user's environment and registry name another server and every test seam",
        "hostile_environment", "data", True, ("folder of the run's files: C:\\ProgramData",)),
    Row("a folder of the program's name made by another program", "planted_folder", "data",
        True, ("made anew; the entry of that name that the program had not made was moved to",)),
    # Wine follows a Unix link to an existing folder as if it were that folder, so only a link
    # that points nowhere stands for a junction here (Windows' are reparse points, which the
    # program moves aside: a unit row). Wine can't rename such a link: the program falls back.
    Row("a link under the program's folder name that points nowhere", "linked_folder", "temp",
        False, ("its folder could not be made",)),
    Row("C:\\ProgramData can't be written: the temporary folder", "read_only_program_data",
        "temp", False, ("since the program's own folder can't be used",
                        "the image is in a folder others can change; it is not kept")),
    Row("...and the temporary folder is named " + POLISH, "polish_temp", "temp", False,
        ("since the program's own folder can't be used",)),
]


class AdminOnlyInputs(unittest.TestCase):
    # Set-ups: each returns the checks to run after the row's whole run.
    def hostile_environment(self, s, env):
        other = self.other
        seams = {"HALCYRA_IMAGE_URL": other.url, "HALCYRA_DOWNLOAD_STALL_SECONDS": "1",
                 "HALCYRA_REFUSE_LOCKS": "9", "HALCYRA_CHECK_PAUSE_MS": "10000",
                 "HALCYRA_DOWNLOAD_LOG": "Z:" + s.path("download.log").replace("/", "\\"),
                 "HALCYRA_TASKBAR_LOG": "Z:" + s.path("taskbar.log").replace("/", "\\"),
                 "HALCYRA_TASKBAR_UNAVAILABLE": "1", "ImageAddress": other.url}
        for name, value in seams.items():
            s.driver.reg_set("HKCU", "Environment", name, REG_SZ, value)
            s.driver.reg_set("HKCU", r"Software\Halcyra\Halcyra", name, REG_SZ, value)
        s.restart_driver()  # new processes take the user's environment from the registry
        env.update(seams)

        def check():
            self.assertEqual(other.requests(), [], "the other server was never asked")
            for name in ("download.log", "taskbar.log"):
                self.assertFalse(os.path.exists(s.path(name)), name)
        return check

    def planted_folder(self, s, env):
        folder = s.c_drive(*DATA_FOLDER)
        os.makedirs(folder)
        with open(os.path.join(folder, "userguide.chm"), "w") as f:
            f.write("planted")

        def check():
            with open(os.path.join(folder + ".old-1", "userguide.chm")) as f:
                self.assertEqual(f.read(), "planted", "the planted folder was moved aside")
            self.assertFalse(os.path.exists(os.path.join(folder, "userguide.chm")))
        return check

    def linked_folder(self, s, env):
        elsewhere = s.path("elsewhere")
        os.symlink(elsewhere, s.c_drive(*DATA_FOLDER))

        def check():
            self.assertFalse(os.path.exists(elsewhere), "nothing was made through the link")
            os.unlink(s.c_drive(*DATA_FOLDER))
        return check

    def read_only_program_data(self, s, env):
        program_data = s.c_drive("ProgramData")
        subprocess.run(["mount", "--bind", program_data, program_data], check=True)
        s.mounts.append(program_data)
        subprocess.run(["mount", "-o", "remount,ro,bind", program_data], check=True)
        return lambda: None

    def polish_temp(self, s, env):
        self.read_only_program_data(s, env)
        temp = s.c_drive("users", self.user, POLISH, "Temp")
        os.makedirs(temp)
        windows = "C:\\users\\%s\\%s\\Temp" % (self.user, POLISH)
        for name in ("TEMP", "TMP"):
            s.driver.reg_set("HKCU", "Environment", name, REG_SZ, windows)
        s.restart_driver()
        self.temp = temp

        def check():
            # The user guide opens from that folder too.
            self.assertTrue(os.path.exists(os.path.join(temp, "userguide.chm")))
        return check

    def run_row(self, s, server, disk, row):
        """The row's set-up, a whole run from a new start, then the checks."""
        d = s.driver
        for path in glob.glob(s.c_drive(*DATA_FOLDER) + "*"):
            shutil.rmtree(path, ignore_errors=True)
        s.driver.reg_set("HKLM", SETTINGS_KEY, "DataFolder", REG_BINARY, b"")
        s.driver.reg_set("HKLM", SETTINGS_KEY, "KeptImage", REG_SZ, "")
        fill_file(disk, 16 * MIB, b"\xee")
        env = {}
        check = getattr(self, row.setup)(s, env)
        program = s.start_program(settings=server.program_settings(), env=env)
        drive_page = open_drive_page(d)
        if row.setup == "polish_temp":
            d.click(drive_page, 1010)  # the help menu's first entry: the user guide
            time.sleep(0.7)
            for key in (0x28, 0x0D):  # Down, Enter
                d.post(drive_page, 0x100, key)
                time.sleep(0.2)
            d.wait_window(GUIDE, timeout=20)
        create_on(d, drive_page)
        box, text = d.expect_message("Operation Complete", timeout=90)
        self.assertEqual(text, SUCCESS)
        d.answer(box, "ok")
        self.assertEqual(program.wait(30), 0)
        self.assertTrue(starts_with_file(disk, IMAGE), "the stick holds the program's image")
        folder = s.c_drive(*DATA_FOLDER) if row.files == "data" else self.temp
        with open(os.path.join(folder, "HalcyraCreator.log"), "rb") as f:
            log = f.read().decode("latin-1")
        for fragment in row.log:
            self.assertIn(fragment, log)
        self.assertTrue(os.path.exists(os.path.join(folder, "HalcyraImage.bin")))
        self.assertEqual(bool(kept_record(s)), row.kept, "an image kept for the next run")
        check()

    def test_each_hostile_input_leaves_the_run_to_the_program_s_own_settings(self):
        with WineSession("admin-inputs", accept_agreement=True) as s, \
                ImageServer(IMAGE) as server, ImageServer(OTHER) as self.other:
            disk, _ = add_target_drive(s)
            self.user = next(u for u in os.listdir(s.c_drive("users")) if u != "Public")
            self.temp = s.c_drive("users", self.user, "Temp")
            for row in ROWS:
                with self.subTest(row.name):
                    self.run_row(s, server, disk, row)


if __name__ == "__main__":
    unittest.main()
