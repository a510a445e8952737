"""Start-up as a user meets it: the licence agreement gate, the option word in the registry,
the splash screen, the welcome page and the page loop's navigation."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import (REG_BINARY, REG_DWORD, SETTINGS_KEY, SETTINGS_VALUE, DriverError,  # noqa: E402
                     WineSession, wait_until)

AGREEMENT = "End User License Agreement"
PAGE = "Halcyra Creator"
WELCOME_TEXT = 1028
DRIVE_LIST = 1002
ACCEPT, DECLINE = 1035, 1034
SHOTS = os.path.join(os.environ.get("HALCYRA_SOURCE_DIR", "."), "out", "screens")


def splash(driver, timeout=10):
    """The splash screen: the untitled window with the picture control 1013."""
    return driver.wait_window("", control=1013, timeout=timeout)


def dismiss_intro(driver):
    """Answers the drive selection page's intro message when it appears."""
    try:
        driver.answer(driver.wait_message_box("Halcyra", timeout=5), "ok")
    except DriverError:
        pass


class AgreementGate(unittest.TestCase):
    def test_first_start_decline_accept_and_close(self):
        with WineSession("agreement") as s:
            d = s.driver
            self.assertIsNone(s.settings_value())

            # First start: the agreement comes before anything else; Decline ends with 1 and stores 0.
            program = s.start_program()
            screen = d.wait_window(AGREEMENT, timeout=30)
            self.assertIsNone(d.find_window("", control=1013))
            self.assertIsNone(d.find_window(PAGE))
            self.assertIn("LICENSE AGREEMENT", d.text(screen, 1037).upper())
            left, top, right, bottom = d.rect(screen)
            self.assertEqual((left, top, right - left, bottom - top), (177, 50, 620, 618))
            time.sleep(0.5)
            s.screenshot(os.path.join(SHOTS, "agreement.png"))
            d.click(screen, DECLINE)
            self.assertEqual(program.wait(20), 1)
            self.assertEqual(s.settings_value(), (REG_BINARY, b"\0\0\0\0"))

            # Closing the screen any other way leaves the word unchanged and also ends with 1.
            s.set_settings_word(0x10)
            program = s.start_program()
            screen = d.wait_window(AGREEMENT, timeout=20)
            d.post(screen, 0x0010)  # WM_CLOSE
            self.assertEqual(program.wait(20), 1)
            self.assertEqual(s.settings_value(), (REG_BINARY, b"\x10\0\0\0"))

            # Accept over a stored 0x10 keeps that bit: 0x11; the splash and welcome page follow.
            program = s.start_program()
            screen = d.wait_window(AGREEMENT, timeout=20)
            d.click(screen, ACCEPT)
            splash(d)
            self.assertEqual(s.settings_value(), (REG_BINARY, b"\x11\0\0\0"))
            welcome = d.wait_window(PAGE, control=WELCOME_TEXT, timeout=10)
            d.click(welcome, 2)
            self.assertEqual(program.wait(20), 0)

            # The next start goes straight to the splash screen.
            program = s.start_program()
            splash(d, timeout=20)
            self.assertIsNone(d.find_window(AGREEMENT))
            d.command(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=10), 2)
            self.assertEqual(program.wait(20), 0)

    def test_accept_on_a_machine_without_the_value_stores_01(self):
        with WineSession("agreement-accept") as s:
            program = s.start_program()
            s.driver.click(s.driver.wait_window(AGREEMENT, timeout=30), ACCEPT)
            splash(s.driver)
            self.assertEqual(s.settings_value(), (REG_BINARY, b"\x01\0\0\0"))
            s.driver.close(s.driver.wait_window(PAGE, control=WELCOME_TEXT, timeout=10))
            self.assertEqual(program.wait(20), 0)


class StoredWordForms(unittest.TestCase):
    def test_short_and_other_typed_values(self):
        with WineSession("settings-forms") as s:
            d = s.driver
            # A 2-byte value is read into the low half: 01 00 means accepted.
            d.reg_set("HKLM", SETTINGS_KEY, SETTINGS_VALUE, REG_BINARY, b"\x01\x00")
            program = s.start_program()
            splash(d, timeout=30)
            d.command(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=10), 2)
            self.assertEqual(program.wait(20), 0)
            self.assertEqual(s.settings_value(), (REG_BINARY, b"\x01\x00"))  # not rewritten

            # 10 00: bit 0x10 alone; the agreement is shown and Accept stores 11 00 00 00.
            d.reg_set("HKLM", SETTINGS_KEY, SETTINGS_VALUE, REG_BINARY, b"\x10\x00")
            program = s.start_program()
            d.click(d.wait_window(AGREEMENT, timeout=20), ACCEPT)
            splash(d)
            self.assertEqual(s.settings_value(), (REG_BINARY, b"\x11\0\0\0"))
            d.command(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=10), 2)
            self.assertEqual(program.wait(20), 0)

            # A 4-byte value of another type is used unchanged.
            d.reg_set("HKLM", SETTINGS_KEY, SETTINGS_VALUE, REG_DWORD, b"\x01\0\0\0")
            program = s.start_program()
            splash(d, timeout=20)
            self.assertIsNone(d.find_window(AGREEMENT))
            d.command(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=10), 2)
            self.assertEqual(program.wait(20), 0)
            self.assertEqual(s.settings_value(), (REG_DWORD, b"\x01\0\0\0"))


class SplashWelcomeAndPageLoop(unittest.TestCase):
    def test_splash_closes_on_its_third_tick_not_on_a_click(self):
        with WineSession("splash", accept_agreement=True) as s:
            d = s.driver
            program = s.start_program()
            window = splash(d, timeout=30)
            shown = time.time()
            s.screenshot(os.path.join(SHOTS, "splash.png"))
            left, top, right, bottom = d.rect(window)
            self.assertEqual((right - left, bottom - top), (496, 147))
            s.click_at((left + right) // 2, (top + bottom) // 2)
            time.sleep(1.0)
            self.assertTrue(d.exists(window))
            d.wait_gone(window, timeout=10)
            self.assertGreater(time.time() - shown, 2.0)
            welcome = d.wait_window(PAGE, control=WELCOME_TEXT, timeout=10)
            self.assertEqual(d.text(welcome, 1), "Next")
            self.assertEqual(d.text(welcome, 2), "Cancel")
            time.sleep(0.5)
            s.screenshot(os.path.join(SHOTS, "welcome.png"))
            # A session end is not refused by the page, which stays open.
            self.assertNotEqual(d.send(welcome, 0x0011), 0)  # WM_QUERYENDSESSION
            self.assertTrue(d.exists(welcome))
            for control, tip in ((1, "Next"), (2, "Cancel"), (1010, "Open Help")):
                s.hover_control(welcome, control)
                wait_until(lambda: d.tooltip() == tip, timeout=5, message="tooltip " + tip)
            d.close(welcome)  # the title bar's close box
            self.assertEqual(program.wait(20), 0)
            self.assertIsNone(d.find_window(PAGE, control=DRIVE_LIST))

    def test_welcome_keys_and_the_drive_selection_page_loop(self):
        with WineSession("page-loop", accept_agreement=True) as s:
            d = s.driver
            # Escape on the welcome page ends the program with 0.
            program = s.start_program()
            d.command(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=30), 2)
            self.assertEqual(program.wait(20), 0)

            # Enter leads to the drive selection page; its Back opens it again.
            program = s.start_program()
            d.command(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=30), 1)
            first = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            dismiss_intro(d)
            d.click(first, 2)
            d.wait_gone(first)
            again = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            self.assertNotEqual(first, again)
            # The page's Cancel ends the program with 0.
            d.click(again, 4)
            self.assertEqual(program.wait(20), 0)

            # The drive selection page's close box ends it too.
            program = s.start_program()
            d.click(d.wait_window(PAGE, control=WELCOME_TEXT, timeout=30), 1)
            page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            dismiss_intro(d)
            d.close(page)
            self.assertEqual(program.wait(20), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
