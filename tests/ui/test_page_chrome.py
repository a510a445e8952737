"""What the pages look like: white pages with the drive panel, and the refresh button's images
for its normal and hover states following the pointer."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import SOURCE_DIR, WineSession, image_pixels, wait_until  # noqa: E402

PAGE = "Halcyra Creator"
REFRESH = 1008
ART = os.path.join(SOURCE_DIR, "res", "art")
WHITE = (255, 255, 255)
PANEL = (245, 246, 246)


class PageLook(unittest.TestCase):
    def test_panel_and_refresh_hover(self):
        with WineSession("page-chrome", accept_agreement=True) as s:
            d = s.driver
            s.add_removable_drive("E", label="BACKUP")
            program = s.start_program()
            welcome = d.wait_window(PAGE, control=1028, timeout=30)
            left, top, _, _ = d.client_rect(welcome)
            self.assertEqual(s.pixel(left + 3, top + 60), WHITE)
            d.click(welcome, 1)
            d.answer(d.wait_message_box("Halcyra", timeout=15), "ok")
            page = d.wait_window(PAGE, control=1002, timeout=15)
            time.sleep(0.5)

            # The panel sits at fixed client pixels: white outside, its flat grey inside.
            left, top, _, _ = d.client_rect(page)
            self.assertEqual(s.pixel(left + 5, top + 140), WHITE)
            for x, y in ((20, 140), (27, 160), (12 + 200, 71 + 125)):
                self.assertEqual(s.pixel(left + x, top + y), PANEL, (x, y))

            # The refresh button shows its normal image, the hover image under the pointer, and
            # the normal one again once the pointer has left.
            bl, bt, br, bb = d.control_rect(page, REFRESH)
            self.assertEqual((br - bl, bb - bt), (33, 27))
            normal = image_pixels(os.path.join(ART, "refresh.bmp"), s.path("normal.ppm"))
            hover = image_pixels(os.path.join(ART, "refresh_hover.bmp"), s.path("hover.ppm"))
            self.assertNotEqual(normal, hover)

            def button():
                return s.grab(bl, bt, 33, 27, s.path("button.ppm"))

            self.assertEqual(button(), normal)
            s.hover((bl + br) // 2, (bt + bb) // 2)
            wait_until(lambda: button() == hover, timeout=3, message="hover image")
            s.hover(left + 5, top + 5)
            wait_until(lambda: button() == normal, timeout=3, message="normal image")

            d.click(page, 4)
            self.assertEqual(program.wait(20), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
