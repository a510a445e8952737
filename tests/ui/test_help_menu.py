"""The help button's menu: the user guide is written to the folder of the program's files and
opened once, the About box closes only by its button, Enter and the close box, and a dismissed
menu does nothing."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import BUILD_DIR, WineSession  # noqa: E402

PAGE = "Halcyra Creator"
WM_KEYDOWN = 0x100
VK_RETURN, VK_ESCAPE, VK_UP, VK_DOWN = 0x0D, 0x1B, 0x26, 0x28
GUIDE = "Halcyra Creator User Guide"


def choose(driver, page, *keys):
    """Opens the help menu and presses keys in it."""
    driver.click(page, 1010)
    time.sleep(0.7)
    for key in keys:
        driver.post(page, WM_KEYDOWN, key)
        time.sleep(0.2)


class HelpMenu(unittest.TestCase):
    def test_user_guide_about_box_and_a_dismissed_menu(self):
        with WineSession("help-menu", accept_agreement=True) as s:
            d = s.driver
            program = s.start_program()
            page = d.wait_window(PAGE, control=1028, timeout=30)

            choose(d, page, VK_ESCAPE)
            self.assertIsNone(d.find_window(GUIDE))
            self.assertIsNone(d.find_window("Halcyra"))
            self.assertTrue(d.exists(page))

            choose(d, page, VK_DOWN, VK_RETURN)
            d.wait_window(GUIDE, timeout=20)
            guide_file = s.c_drive("ProgramData", "Halcyra Creator", "userguide.chm")
            with open(guide_file, "rb") as f, open(os.path.join(BUILD_DIR, "userguide.chm"), "rb") as g:
                self.assertEqual(f.read(), g.read())
            os.remove(guide_file)
            # A second use writes the file again and leaves the open guide alone.
            choose(d, page, VK_DOWN, VK_RETURN)
            time.sleep(2)
            self.assertTrue(os.path.exists(guide_file))
            self.assertEqual(sum(1 for w in d.windows() if w[2] == GUIDE), 1)

            choose(d, page, VK_UP, VK_RETURN)
            about = d.wait_window("Halcyra", control=1278, timeout=10)
            self.assertEqual(d.text(about, 1), "Cancel")
            d.command(about, 2)  # Escape does nothing
            time.sleep(0.5)
            self.assertTrue(d.exists(about))
            d.command(about, 1)  # Enter closes it
            d.wait_gone(about)
            choose(d, page, VK_UP, VK_RETURN)
            about = d.wait_window("Halcyra", control=1278, timeout=10)
            time.sleep(0.5)
            s.screenshot(os.path.join(os.environ.get("HALCYRA_SOURCE_DIR", "."), "out", "screens", "about.png"))
            d.close(about)
            d.wait_gone(about)

            self.assertEqual(d.window_text(page), PAGE)
            d.click(page, 2)
            self.assertEqual(program.wait(20), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
