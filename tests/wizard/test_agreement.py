"""The licence agreement screen's Save command: the stored block lands byte for byte, and an
existing file is replaced only after the user agrees."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import SOURCE_DIR, WineSession  # noqa: E402

AGREEMENT = "End User License Agreement"
SAVE_TITLE = "Please select where to save file"
FILE_NAME_BOX = 1148


def agreement_block():
    with open(os.path.join(SOURCE_DIR, "res", "agreement.rtf"), "rb") as f:
        return f.read() + b"\0\0"


class SaveAgreement(unittest.TestCase):
    def save_as(self, s, screen, windows_path):
        d = s.driver
        d.click(screen, 1119)
        dialog = d.wait_window(SAVE_TITLE, timeout=15)
        self.assertEqual(d.text(dialog, FILE_NAME_BOX), "Halcyra_License.rtf")
        d.set_text(dialog, FILE_NAME_BOX, windows_path)
        d.click(dialog, 1)

    def test_save_writes_the_block_and_asks_before_overwriting(self):
        with WineSession("agreement-save") as s:
            d = s.driver
            program = s.start_program()
            screen = d.wait_window(AGREEMENT, timeout=30)
            target = s.c_drive("licence.rtf")

            self.save_as(s, screen, r"C:\licence.rtf")
            box, text = d.expect_message("License file created")
            self.assertEqual(text, "License file has been created successfully.")
            d.answer(box, "ok")
            with open(target, "rb") as f:
                saved = f.read()
            self.assertEqual(saved, agreement_block())
            self.assertRegex(saved, rb"}\r?\n\0\0$")

            # An existing file: No keeps it untouched, Yes replaces it with the block.
            with open(target, "wb") as f:
                f.write(b"keep me")
            self.save_as(s, screen, r"C:\licence.rtf")
            box, text = d.expect_message("File already exists")
            self.assertEqual(text, "C:\\licence.rtf already exists!\r\nDo you wish to overwrite the file?")
            d.answer(box, "no")
            d.wait_gone(box)
            with open(target, "rb") as f:
                self.assertEqual(f.read(), b"keep me")

            self.save_as(s, screen, r"C:\licence.rtf")
            d.answer(d.wait_message_box("File already exists"), "yes")
            d.answer(d.wait_message_box("License file created"), "ok")
            with open(target, "rb") as f:
                self.assertEqual(f.read(), agreement_block())

            # A folder named with letters outside the code page (a Polish user's documents).
            folder = s.c_drive("\u0141ukasz \u017bak")
            os.makedirs(folder)
            self.save_as(s, screen, "C:\\\u0141ukasz \u017bak\\licence.rtf")
            d.answer(d.wait_message_box("License file created"), "ok")
            with open(os.path.join(folder, "licence.rtf"), "rb") as f:
                self.assertEqual(f.read(), agreement_block())

            # Saving leaves the screen open; the agreement is still to be answered.
            self.assertTrue(d.exists(screen))
            d.click(screen, 1034)
            self.assertEqual(program.wait(20), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
