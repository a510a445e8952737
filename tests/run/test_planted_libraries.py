"""Started from a downloads folder into which web pages saved libraries named like the ones it
uses, the program loads none of them: neither in a whole run, nor in the agreement's save and
print dialogs, nor in the user guide. Each planted file is a library of ours that leaves
"<its name>.mark" beside itself when loaded; Wine, which prefers its own copies, is told to
search the program's folder first for those names, as Windows does for all but its KnownDLLs."""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui"))
from harness import WineSession, exe_path  # noqa: E402
from creation_flow import (ImageServer, add_target_drive, build_demo_image,  # noqa: E402
                           open_progress_page, open_welcome, watch)
from test_help_menu import GUIDE, VK_DOWN, VK_RETURN, choose  # noqa: E402

# What loads them, and the libraries, none a KnownDLL of current Windows, that are loaded on the
# way. Left out: names only Wine's own libraries load (version.dll, which Wine's user32 imports).
PLANTED = [
    ("the download", "urlmon.dll wininet.dll mpr.dll"),
    ("the agreement's text", "riched32.dll riched20.dll usp10.dll"),
    ("the print dialog", "winspool.drv compstui.dll"),
    ("the progress bar and tooltips", "comctl32.dll"),
    ("the user guide", "hhctrl.ocx itss.dll ieframe.dll"),
    ("the kept image's hash (CryptoAPI's provider)", "rsaenh.dll"),
    ("the taskbar button (COM)", "explorerframe.dll"),
    ("the window themes", "uxtheme.dll"),
]
NAMES = [name for _, names in PLANTED for name in names.split()]


class PlantedLibraries(unittest.TestCase):
    def test_a_run_the_dialogs_and_the_user_guide_load_nothing_from_the_downloads_folder(self):
        with WineSession("planted") as s, \
                ImageServer(build_demo_image(s.path("demo.img"))) as server:
            add_target_drive(s)
            user, d = os.environ.get("USER", "root"), s.driver
            downloads = s.c_drive("users", user, "Downloads")
            if os.path.islink(downloads):  # Wine links it to the Unix home: a folder of our own
                os.remove(downloads)
            s.install_program(downloads)
            for name in NAMES:
                shutil.copy(exe_path("planted_library.dll"), os.path.join(downloads, name))
            overrides = ",".join(n[:-4] if n.endswith(".dll") else n for n in NAMES) + "=n,b"
            env = dict(WINEDLLOVERRIDES=s.env["WINEDLLOVERRIDES"] + ";" + overrides)
            program = s.start_program(r"C:\users\%s\Downloads\HalcyraCreator.exe" % user, env,
                                      settings=server.program_settings())
            try:
                screen = d.wait_window("End User License Agreement", timeout=30)
                d.click(screen, 1119)  # Save, then Cancel
                d.click(d.wait_window("Please select where to save file", timeout=15), 2)
                d.click(screen, 1135)  # Print: Wine has no printer to offer
                d.answer(d.wait_message_box("Print", timeout=15), "ok")
                d.click(screen, 1035)  # Accept
                choose(d, open_welcome(d), VK_DOWN, VK_RETURN)
                d.wait_window(GUIDE, timeout=30)
                page = open_progress_page(d)
                watch(d, page, lambda _: d.find_message_box("Operation Complete"))
                d.answer(d.wait_message_box("Operation Complete"), "ok")
                self.assertEqual(program.wait(30), 0)
            finally:
                # Also after a failed walk: a planted library can break the program.
                marks = {f[:-5].lower() for f in os.listdir(downloads) if f.endswith(".mark")}
                self.assertEqual([(who, name) for who, names in PLANTED for name in names.split()
                                  if name in marks], [], "loaded from the downloads folder")


if __name__ == "__main__":
    unittest.main(verbosity=2)
