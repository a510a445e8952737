"""The ISO export: the copy lands byte for byte in chunks, failures are reported and destroy
nothing, and the export notice stores "Do not show this again"."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import WineSession  # noqa: E402

MIB = 1048576


def pattern(size):
    return bytes((i * 7 + i // 4099) & 0xFF for i in range(size))


class IsoCopy(unittest.TestCase):
    def test_copies_sizes_around_the_chunk_boundary(self):
        with WineSession("iso-copy") as s:
            for size in (0, 1, 2 * MIB, 2 * MIB + 1):
                image = s.c_drive("image.bin")
                with open(image, "wb") as f:
                    f.write(pattern(size))
                code, out = s.run_tool("iso_probe.exe", ["copy", r"C:\image.bin", r"C:\out.iso"])
                self.assertEqual((code, out.strip()), (0, "result 1"), size)
                with open(s.c_drive("out.iso"), "rb") as f:
                    self.assertEqual(f.read(), pattern(size), size)

    def test_a_missing_image_is_reported_and_leaves_an_existing_file_alone(self):
        with WineSession("iso-missing") as s:
            with open(s.c_drive("keep.iso"), "wb") as f:
                f.write(b"an earlier export")
            probe = s.start_tool("iso_probe.exe", ["copy", r"C:\missing.bin", r"C:\keep.iso"])
            box, text = s.driver.expect_message(r"C:\missing.bin")
            self.assertEqual(text, "2")  # the runtime's error number: no such file
            s.driver.answer(box, "ok")
            self.assertEqual(probe.wait(20), 0)
            self.assertEqual(probe.output().strip(), "result 0")
            with open(s.c_drive("keep.iso"), "rb") as f:
                self.assertEqual(f.read(), b"an earlier export")


class ExportNotice(unittest.TestCase):
    def test_ok_with_the_box_checked_stores_bit_0x10_and_unchecked_stores_nothing(self):
        with WineSession("iso-notice") as s:
            d = s.driver
            s.set_settings_word(0x1)
            probe = s.start_tool("iso_probe.exe", ["notice"])
            notice = d.wait_window("Confirm", control=1098)
            self.assertEqual(d.checked(notice, 1098), 0)
            d.click(notice, 1)
            self.assertEqual(probe.wait(20), 0)
            self.assertEqual(probe.output().strip(), "flags 0x1")
            self.assertEqual(s.settings_value()[1], b"\x01\0\0\0")

            probe = s.start_tool("iso_probe.exe", ["notice"])
            notice = d.wait_window("Confirm", control=1098)
            d.click(notice, 1098)
            d.click(notice, 1)
            self.assertEqual(probe.wait(20), 0)
            self.assertEqual(probe.output().strip(), "flags 0x11")
            self.assertEqual(s.settings_value()[1], b"\x11\0\0\0")


if __name__ == "__main__":
    unittest.main(verbosity=2)
