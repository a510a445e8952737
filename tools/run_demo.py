#!/usr/bin/env python3
"""The demo: the wizard under Wine against the stand-in image server on loopback.

Builds the demo boot image, serves it, makes a Wine prefix with a removable drive E: whose
volume and physical disk are files under out/demo/, and starts the program. With a DISPLAY the
user runs the wizard; without one the demo starts its own virtual display, goes through a whole
run by itself and saves a screenshot of every screen under out/screens/. Either way it then
checks that the disk image holds the served image from offset 0 and that it boots in QEMU.

    HALCYRA_WIN64_DIR=build/win64 python3 tools/run_demo.py      (tools/run_demo.sh does it all)
"""

import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
from harness import WineSession, wait_until  # noqa: E402
from creation_flow import (BAR, DRIVE_LIST, NEXT, PAGE, PAGE_TEXT, ImageServer,  # noqa: E402
                           add_target_drive, boots, build_demo_image, message_boxes,
                           starts_with_file, watch)

OUT = os.path.join(ROOT, "out")
DEMO_DIR = os.path.join(OUT, "demo")
SHOTS = os.path.join(OUT, "screens")
AGREEMENT, ACCEPT, SPLASH_PICTURE = "End User License Agreement", 1035, 1013
RATE = 1 << 20  # bytes per second: the download takes a few seconds, so its progress shows


class UserDisplay:
    """Stands in for the session's own Xvfb: the user's display, left alone at the end."""

    def start(self):
        return os.environ["DISPLAY"]

    def stop(self):
        pass


def interactive(session, server):
    print("The wizard is open on %s; the image server is %s" % (os.environ["DISPLAY"], server.url))
    print("Pick E:\\ and click Create. The run writes out/demo/disk1.img.")
    program = session.start_program(settings=server.program_settings())
    return program.wait(None)


def automatic(session, server):
    """A whole run as a user would click it, with a screenshot of every screen."""
    os.makedirs(SHOTS, exist_ok=True)
    for name in os.listdir(SHOTS):
        if name.startswith("demo_"):
            os.remove(os.path.join(SHOTS, name))
    count = [0]

    def shot(name, settle=0.4):
        time.sleep(settle)  # let the screen finish painting
        count[0] += 1
        path = os.path.join(SHOTS, "demo_%02d_%s.png" % (count[0], name))
        session.screenshot(path)
        print("  screen: %s" % os.path.relpath(path, ROOT))

    d = session.driver
    program = session.start_program(settings=server.program_settings())
    agreement = d.wait_window(AGREEMENT, timeout=60)
    shot("agreement")
    d.click(agreement, ACCEPT)
    d.wait_window("", control=SPLASH_PICTURE, timeout=20)
    shot("splash")
    welcome = d.wait_window(PAGE, control=PAGE_TEXT, timeout=30)
    shot("welcome")
    d.click(welcome, NEXT)
    intro = d.wait_message_box("Halcyra", timeout=20)
    shot("drive_selection_intro")
    d.answer(intro, "ok")
    drive_page = d.wait_window(PAGE, control=DRIVE_LIST, timeout=20)
    wait_until(lambda: d.enabled(drive_page, NEXT), timeout=20, message="Create enabled")
    shot("drive_selection")
    d.click(drive_page, NEXT)
    warning = d.wait_message_box("Are you sure?", timeout=10)
    shot("warning")
    d.answer(warning, "yes")

    page = d.wait_window(PAGE, control=BAR, timeout=30)
    seen = set()

    def on_sample(sample):
        status = sample["status"] or ""
        for key, word in (("download", "Downloaded"), ("write", "Written"), ("verify", "Verified")):
            if word in status and key not in seen:
                seen.add(key)
                shot("progress_" + key, settle=0)

    watch(d, page, lambda _: "Operation Complete" in message_boxes(d), interval=0.1,
          on_sample=on_sample)
    done = d.wait_message_box("Operation Complete")
    shot("operation_complete")
    d.answer(done, "ok")
    return program.wait(60)


def main():
    os.makedirs(DEMO_DIR, exist_ok=True)
    image = build_demo_image(os.path.join(DEMO_DIR, "halcyra_demo.img"))
    print("Demo image: %s (%d bytes)" % (os.path.relpath(image, ROOT), os.path.getsize(image)))
    headless = not os.environ.get("DISPLAY")
    session = WineSession("demo", virtual_desktop=headless)
    if not headless:
        session.xvfb = UserDisplay()
    with ImageServer(image, rate=RATE) as server, session:
        # As root the drive reports the size of a 4 GB stick instead of the host's disk.
        stick = 4002910208 if os.geteuid() == 0 else None
        disk, _ = add_target_drive(session, disk_size=16 << 20, disk_fill=b"\0",
                                   volume_fill=b"\0", folder=DEMO_DIR, size_bytes=stick)
        print("Removable drive E: on %s" % os.path.relpath(disk, ROOT))
        code = automatic(session, server) if headless else interactive(session, server)
    print("The program ended with exit code %s." % code)

    ok = True
    if starts_with_file(disk, image):
        print("The disk image holds the served image byte for byte from offset 0.")
    else:
        print("The disk image does NOT hold the served image.")
        ok = False
    if ok and boots(disk, timeout=60):
        print("It boots: QEMU started from the disk image shows the Halcyra banner on its serial port.")
    elif ok:
        print("The disk image did NOT boot to the Halcyra banner.")
        ok = False
    return 0 if ok and code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
