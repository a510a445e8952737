"""The drive selection page under Wine: which drives it lists and how, the intro message, the
refresh, and what Create, Back, Cancel and the close box leave behind."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import DriverError, WineSession, wait_until  # noqa: E402

PAGE = "Halcyra Creator"
WELCOME_TEXT = 1028
CREATE, BACK, EXTRACT, CANCEL = 1, 2, 3, 4
LABEL, DRIVE_LIST, MODE_ISO, MODE_USB, REFRESH, FORMAT_DISK = 1001, 1002, 1005, 1006, 1008, 1012
PROGRESS_BAR = 1019
SHOTS = os.environ.get("HALCYRA_SHOTS") or os.path.join(
    os.environ.get("HALCYRA_SOURCE_DIR", "."), "out", "screens")

INTRO = ("Halcyra will be downloaded and written to a USB Flash Drive. A computer can then be "
         "started with the Halcyra USB Flash Drive.\r\nPlease select a USB device to write "
         "Halcyra to.")
SAME_DRIVE = ("The target removable device and the source removable device cannot be the same. "
              "Please move the Halcyra installation file to another drive or select a different "
              "removable device to write the software to.")
WARNING = ("WARNING. Halcyra will be written to Disk %s:. All data on this disk will be "
           "permanently destroyed. Are you sure you want to proceed?")
NO_DRIVE = "Please attach a removable drive"

BACKUP_LINE = "E:\\ BACKUP (3.73 GB)"
STICK_SIZE = 4002910208
NAVIGATION = (CREATE, BACK, CANCEL, REFRESH, DRIVE_LIST)


def probe_large(session, letters):
    """LargeDevice of each letter, from what its device reports in this prefix."""
    code, out = session.run_tool("drives_probe.exe", list(letters))
    assert code == 0, out
    return {line[0]: line.split("large=")[1].strip() == "1"
            for line in out.splitlines() if "large=" in line}


def no_message_box(driver, caption, seconds=2.0):
    try:
        driver.wait_message_box(caption, timeout=seconds)
    except DriverError:
        return True
    return False


def open_drive_page(driver, expect_intro):
    """From the welcome page to the drive selection page; answers the intro when expected."""
    driver.click(driver.wait_window(PAGE, control=WELCOME_TEXT, timeout=30), 1)
    if expect_intro:
        box = driver.wait_message_box("Halcyra", timeout=15)
        assert driver.message_text(box) == INTRO
        driver.answer(box, "ok")
    return driver.wait_window(PAGE, control=DRIVE_LIST, timeout=15)


def format_box(driver, page):
    return driver.checked(page, FORMAT_DISK), driver.enabled(page, FORMAT_DISK)


def plug_drive(session, letter, directory):
    """Plugs a removable drive backed by directory into the running prefix (None unplugs)."""
    args = [letter] + ([directory] if directory else [])
    code, out = session.run_tool("drives_define.exe", args)
    assert code == 0, out


def click_close_box(session, page):
    """A real click on the close box of the page's caption (drawn by Wine's virtual desktop)."""
    left, top, right, bottom = session.driver.rect(page)
    session.click_at(right - 12, top + 12)


class DriveList(unittest.TestCase):
    def test_removable_drives_listed_refreshed_and_the_intro_shown_once(self):
        with WineSession("drive-list", accept_agreement=True) as s:
            s.add_removable_drive("E", label="BACKUP", size_bytes=STICK_SIZE)
            s.add_removable_drive("F")
            os.rmdir(s.path("drive_f"))  # a card reader slot without a medium
            volume = s.path("g-volume.img")
            with open(volume, "wb") as image:
                image.truncate(1 << 20)
            s.add_removable_drive("G", label="IGNORED", size_bytes=1073741824, volume_file=volume)
            s.add_removable_drive("A", label="FLOPPY", size_bytes=1474560)
            s.add_removable_drive("H", label="FIXED")
            s.set_drive_type("H", "hd")
            s.restart_driver()  # the drive types are read when the prefix starts
            d = s.driver
            large = probe_large(s, "EFG")
            # The program runs from G:, so G is its source drive.
            s.install_program(directory=s.path("drive_g"))
            program = s.start_program(windows_path=r"G:\HalcyraCreator.exe")

            page = open_drive_page(d, expect_intro=True)
            lines = ["E:\\ BACKUP (3.73 GB)", "F:\\", "G:\\ (1.00 GB)"]
            self.assertEqual(d.combo_items(page, DRIVE_LIST), lines)
            self.assertEqual(d.combo_selection(page, DRIVE_LIST), 0)
            for control in NAVIGATION:
                self.assertTrue(d.enabled(page, control), control)
            self.assertFalse(d.visible(page, EXTRACT))
            time.sleep(1)
            s.screenshot(os.path.join(SHOTS, "drive_page.png"))

            # The Format Disk box follows the selected line's LargeDevice value.
            for index, letter in enumerate("EFG"):
                d.combo_select(page, DRIVE_LIST, index)
                wanted = (0, False) if large[letter] else (1, True)
                wait_until(lambda: format_box(d, page) == wanted, 5, message="format box " + letter)

            # A refresh lists the same drives again and selects the first line.
            d.click(page, REFRESH)
            wait_until(lambda: d.combo_selection(page, DRIVE_LIST) == 0, 5, message="refresh")
            self.assertEqual(d.combo_items(page, DRIVE_LIST), lines)
            self.assertTrue(d.enabled(page, CREATE))

            # Back opens a fresh page, without the intro; so does Escape.
            d.click(page, BACK)
            d.wait_gone(page)
            self.assertTrue(no_message_box(d, "Halcyra"))
            page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            self.assertEqual(d.combo_items(page, DRIVE_LIST), lines)
            d.command(page, BACK)
            d.wait_gone(page)
            page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=10)
            self.assertTrue(no_message_box(d, "Halcyra"))

            # The drive the program runs from is refused, and the page stays as it was.
            d.combo_select(page, DRIVE_LIST, 2)
            d.click(page, CREATE)
            box = d.wait_message_box("Installation")
            self.assertEqual(d.message_text(box), SAME_DRIVE)
            d.answer(box, "ok")
            d.wait_gone(box)
            for control in NAVIGATION:
                self.assertTrue(d.enabled(page, control), control)

            # No to the warning changes nothing.
            d.combo_select(page, DRIVE_LIST, 0)
            d.click(page, CREATE)
            box = d.wait_message_box("Are you sure?")
            self.assertEqual(d.message_text(box), WARNING % "E")
            d.answer(box, "no")
            d.wait_gone(box)
            self.assertTrue(d.exists(page))
            for control in NAVIGATION:
                self.assertTrue(d.enabled(page, control), control)
            self.assertEqual(d.combo_items(page, DRIVE_LIST), lines)

            # Yes closes the page and the page loop goes on to the progress page.
            d.click(page, CREATE)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            d.wait_gone(page)
            d.wait_window(PAGE, control=PROGRESS_BAR, timeout=10)
            self.assertTrue(program.running())


class NoDriveThenRefresh(unittest.TestCase):
    def test_attach_line_until_a_refresh_finds_the_drive(self):
        with WineSession("drive-none", accept_agreement=True) as s:
            s.add_removable_drive("A", label="FLOPPY")  # drive A alone never counts
            s.restart_driver()
            d = s.driver
            stick = s.add_removable_drive("E", label="BACKUP", size_bytes=STICK_SIZE)
            s.unlink_device("e:")  # made, but not plugged in yet
            program = s.start_program()
            page = open_drive_page(d, expect_intro=True)
            self.assertEqual(d.combo_items(page, DRIVE_LIST), [NO_DRIVE])
            self.assertEqual(d.combo_selection(page, DRIVE_LIST), 0)
            self.assertFalse(d.enabled(page, CREATE))
            self.assertEqual(format_box(d, page), (1, True))
            for control in (BACK, CANCEL, REFRESH, DRIVE_LIST):
                self.assertTrue(d.enabled(page, control), control)
            # Enter does nothing while Create is disabled.
            d.command(page, CREATE)
            self.assertTrue(no_message_box(d, "Are you sure?"))

            # The stick is plugged in: a refresh lists it and enables Create.
            plug_drive(s, "E", stick)
            d.click(page, REFRESH)
            wait_until(lambda: d.combo_items(page, DRIVE_LIST) == [BACKUP_LINE], 10,
                       message="the drive after the refresh")
            self.assertTrue(d.enabled(page, CREATE))

            # Pulled out again: the next refresh is back to the attach line.
            plug_drive(s, "E", None)
            d.click(page, REFRESH)
            wait_until(lambda: d.combo_items(page, DRIVE_LIST) == [NO_DRIVE], 10,
                       message="the attach line after the drive went")
            self.assertFalse(d.enabled(page, CREATE))

            # The close box ends the page with the result the loop set (0): the program ends.
            d.close(page)
            self.assertEqual(program.wait(20), 0)


def parse_tool_output(text):
    """The tool's report lines as (kind, fields) pairs."""
    events = []
    for line in text.splitlines():
        kind, _, rest = line.partition(" ")
        events.append((kind, dict(re.findall(r"(\w+)=(\S*)", rest))))
    return events


class CreateBackCancelAndClose(unittest.TestCase):
    def test_results_target_drive_and_committed_state(self):
        with WineSession("drive-results", accept_agreement=True) as s:
            s.add_removable_drive("E", label="BACKUP", size_bytes=STICK_SIZE)
            s.add_removable_drive("F", label="DATA", size_bytes=8004304896)
            s.restart_driver()
            d = s.driver
            # Four openings of the page in one process, started from drive E.
            tool = s.start_tool("drives_page.exe", ["4", "E"])

            # 1: the intro, the source drive refused, No, then Yes on F.
            d.answer(d.wait_message_box("Halcyra", timeout=30), "ok")
            page = d.wait_window(PAGE, control=DRIVE_LIST)
            self.assertEqual(d.combo_items(page, DRIVE_LIST),
                             [BACKUP_LINE, "F:\\ DATA (7.45 GB)"])
            d.click(page, CREATE)
            box = d.wait_message_box("Installation")
            self.assertEqual(d.message_text(box), SAME_DRIVE)
            d.answer(box, "ok")
            d.combo_select(page, DRIVE_LIST, 1)
            d.click(page, CREATE)
            box = d.wait_message_box("Are you sure?")
            self.assertEqual(d.message_text(box), WARNING % "F")
            d.answer(box, "no")
            d.wait_gone(box)
            self.assertEqual(d.combo_selection(page, DRIVE_LIST), 1)
            d.command(page, CREATE)  # Enter
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            d.wait_gone(page)

            # 2: no intro; the close box.
            page = d.wait_window(PAGE, control=DRIVE_LIST)
            self.assertTrue(no_message_box(d, "Halcyra"))
            time.sleep(0.5)
            click_close_box(s, page)
            d.wait_gone(page)

            # 3: the hidden mode commands, then a Create in ISO mode, which commits but stays.
            page = d.wait_window(PAGE, control=DRIVE_LIST)
            d.command(page, MODE_ISO)
            wait_until(lambda: d.text(page, LABEL) == "Recording Device:", 5, message="ISO mode")
            self.assertEqual(d.text(page, CREATE), "Create")
            self.assertTrue(d.visible(page, EXTRACT))
            self.assertFalse(d.visible(page, FORMAT_DISK))
            d.click(page, REFRESH)  # does nothing in ISO mode
            d.command(page, MODE_USB)
            wait_until(lambda: d.text(page, LABEL) == "USB Flash Device:", 5, message="USB mode")
            self.assertFalse(d.visible(page, EXTRACT))
            self.assertTrue(d.visible(page, FORMAT_DISK))
            d.command(page, MODE_ISO)
            wait_until(lambda: d.visible(page, EXTRACT), 5, message="ISO mode again")
            d.combo_select(page, DRIVE_LIST, 1)
            d.click(page, CREATE)
            d.answer(d.wait_message_box("Are you sure?"), "yes")
            wait_until(lambda: not d.enabled(page, CREATE), 5, message="committed")
            # Create goes first; the page answers a message once it has taken the rest too.
            d.ping(page)
            for control in (BACK, EXTRACT, REFRESH, DRIVE_LIST, MODE_USB, MODE_ISO):
                self.assertFalse(d.enabled(page, control), control)
            self.assertTrue(d.enabled(page, CANCEL))
            click_close_box(s, page)  # grayed: nothing happens
            time.sleep(1.5)
            self.assertTrue(d.exists(page))
            d.click(page, CANCEL)
            d.wait_gone(page)

            # 4: Escape is Back.
            page = d.wait_window(PAGE, control=DRIVE_LIST)
            d.command(page, BACK)
            d.wait_gone(page)
            self.assertEqual(tool.wait(20), 0)

            events = parse_tool_output(tool.output())
            pages = [fields for kind, fields in events if kind == "page"]
            self.assertEqual([(p["state"], p["target"]) for p in pages],
                             [("1", "F"), ("0", "F"), ("3", "F"), ("2", "F")])
            self.assertTrue(all(p["intro"] == "0" for p in pages))
            scans = [fields for kind, fields in events if kind == "scan"]
            # Initialisations of the four pages and the USB mode command; refresh in ISO mode none.
            self.assertEqual(len(scans), 5)
            for scan in scans:
                self.assertEqual(scan["close"], "1")
                self.assertEqual(scan["disabled"].split(",")[:7],
                                 ["1", "2", "3", "1008", "1002", "1006", "1005"])
            closes = [fields for kind, fields in events if kind == "close"]
            self.assertEqual(len(closes), 4)
            committed = set("1,2,3,1008,1002,1006,1005".split(","))
            # Create in USB mode: everything but Cancel and help disabled, Close grayed.
            self.assertEqual(closes[0]["close"], "1")
            self.assertEqual(set(closes[0]["disabled"].split(",")), committed | {"1012"})
            # The close box of a ready page: nothing disabled, Close enabled.
            self.assertEqual(closes[1]["close"], "0")
            self.assertNotIn("1", closes[1]["disabled"].split(","))
            # Cancel after the ISO mode commit: Close still grayed.
            self.assertEqual(closes[2]["close"], "1")
            self.assertTrue(committed <= set(closes[2]["disabled"].split(",")))
            self.assertEqual(closes[3]["close"], "0")


# The drives of the notice scenarios: label, size, and the line the page shows.
NOTICE_DRIVES = {"E": ("BACKUP", STICK_SIZE, BACKUP_LINE),
                 "F": ("DATA", 8004304896, "F:\\ DATA (7.45 GB)"),
                 "G": (None, 1073741824, "G:\\ (1.00 GB)")}

# Name; drives plugged at the start; the drive selected; what is open when the notice comes;
# the change (+ plugs, - unplugs a drive); drives listed afterwards; the drive selected then.
NOTICE_CASES = [
    ("arrival", "EG", "G", "nothing", "+F", "EFG", "G"),
    ("selected-leaves", "EG", "G", "nothing", "-G", "E", "E"),
    ("last-leaves", "E", "E", "nothing", "-E", "", None),
    ("first-arrives", "", None, "nothing", "+F", "F", "F"),
    ("intro-open", "E", None, "intro", "+F", "EF", "E"),
    ("question-open", "EG", "G", "question", "+F", "EFG", "G"),
    ("committed", "EG", "G", "committed", "+F", "EG", "G"),
]


def notice_lines(letters):
    return [NOTICE_DRIVES[x][2] for x in letters] or [NO_DRIVE]


class VolumeNotices(unittest.TestCase):
    def notice_scenario(self, name, plugged, selected, moment, change, after, selected_after):
        with WineSession("notice-" + name, accept_agreement=True) as s:
            d = s.driver
            folders = {}
            for letter, (label, size, _) in NOTICE_DRIVES.items():
                folders[letter] = s.add_removable_drive(letter, label=label, size_bytes=size)
                if letter not in plugged:
                    s.unlink_device(letter.lower() + ":")  # known to Wine, not plugged in
            program = s.start_program()
            page = open_drive_page(d, expect_intro=moment != "intro")
            if selected:
                d.combo_select(page, DRIVE_LIST, plugged.index(selected))
            box = None
            if moment == "intro":
                box = d.wait_message_box("Halcyra")
            elif moment in ("question", "committed"):
                if moment == "committed":  # the one mode in which a committed page stays open
                    d.command(page, MODE_ISO)
                d.click(page, CREATE)
                box = d.wait_message_box("Are you sure?")
                if moment == "committed":
                    d.answer(box, "yes")
                    wait_until(lambda: not d.enabled(page, BACK), 5, message="committed")
            time.sleep(1)
            s.screenshot(os.path.join(SHOTS, "notice_%s_before.png" % name))

            letter = change[1]
            plug_drive(s, letter, folders[letter] if change[0] == "+" else None)
            for _ in range(2):  # a burst, as from a stick with two partitions
                d.volume_notice("arrival" if change[0] == "+" else "removal", letter)
            if moment != "nothing":
                time.sleep(1.5)  # the page keeps the notice while its box is open
                self.assertEqual(d.combo_items(page, DRIVE_LIST), notice_lines(plugged))
                if moment != "committed":
                    d.answer(box, "ok" if moment == "intro" else "no")
            wait_until(lambda: d.combo_items(page, DRIVE_LIST) == notice_lines(after), 10,
                       message="the drive list after the notice")
            wanted = after.index(selected_after) if selected_after else 0
            self.assertEqual(d.combo_selection(page, DRIVE_LIST), wanted)
            self.assertEqual(d.enabled(page, CREATE), bool(after) and moment != "committed")
            time.sleep(1)
            s.screenshot(os.path.join(SHOTS, "notice_%s_after.png" % name))
            d.click(page, CANCEL)
            self.assertEqual(program.wait(20), 0)

    def test_the_list_follows_volume_notices(self):
        for case in NOTICE_CASES:
            with self.subTest(case[0]):
                self.notice_scenario(*case)


if __name__ == "__main__":
    unittest.main()
