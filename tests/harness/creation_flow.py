"""Pieces shared by the creation run's tests, its benchmark and the demo: the demo image, the
stand-in application server, the file-backed removable drive and the way through the wizard
to the progress page.

    with WineSession("run") as s, ImageServer(image) as server:
        disk = add_target_drive(s)
        program = s.start_program(settings=server.program_settings())
        page = open_progress_page(s.driver)
"""

import json
import os
import re
import subprocess
import sys
import time
import urllib.parse
import urllib.request

from harness import SETTINGS_KEY, SOURCE_DIR, wait_until

PAGE = "Halcyra Creator"
DRIVE_LIST, STATUS, BAR, PAGE_TEXT, DRIVE_STATUS = 1002, 1018, 1019, 1028, 1011
NEXT, CANCEL = 1, 2
WAIT_NOTICE_TEXT = 100

DOWNLOADING = "Downloading application components..."
CANCELLED = "The Halcyra creation process has been cancelled."
CANCEL_QUESTION = "Are you sure you want to cancel the creation process?"
DOWNLOAD_ERROR = ("Unable to connect to the application server - Please check your network "
                  "connection.")
# The last line of a "Download Error": its cause.
SERVER_ANSWERED = "The server answered %s."
NO_CONNECTION = "No connection to the application server could be made."
NO_DATA = "The application server sent no data for %d seconds."
INCOMPLETE = "The connection to the application server closed before the whole image had arrived."
NOT_AN_IMAGE = "The file received from the application server is not a Halcyra image."
WEB_PAGE = ("The file received from the application server is not a Halcyra image (it looks like "
            "a web page). If this network asks you to sign in, sign in with your web browser "
            "first, then try again.")
FOLDER_FULL = "There is not enough room for the image in the folder %s."
FOLDER_READ_ONLY = "The image can't be saved in the folder %s."
# The room the platform's cache copy needs beside the download: the folder, then the room
# needed and free as the program formats sizes.
ROOM_FOR_BOTH = ("There is not enough room for the download on the drive of %s: the image and the "
                 "copy that the system keeps of it while it downloads need %s, and %s are free.")
ROOM_FOR_CACHE = ("There is not enough room on the drive of %s for the copy of the image that the "
                  "system keeps while it downloads: it needs %s, and %s are free.")
# A progress line's time left ("..., about 3 min left").
TIME_LEFT_TEXT = r", about (\d+ s|\d+ min|\d+ h( \d+ min)?) left"
TIME_LEFT = re.compile(TIME_LEFT_TEXT + "$")


def download_error(cause):
    """The "Download Error" text: the same first line for every failure, then its cause."""
    return DOWNLOAD_ERROR + "\n\n" + cause


DRIVE_ERROR = "An error occurred writing the Halcyra image to your USB Drive."
# The last line of a writer's failure box: the cause of the call that failed.
DENIED = ("Windows refused access to the drive. Another program may be using it, or a security "
          "program may block writing to drives: close that program or allow Halcyra Creator in "
          "it, then try again.")
GONE = ("The drive was removed or stopped answering. Plug it in again, straight into the "
        "computer rather than through a hub, and choose it again.")
FAULT = "The drive reported a fault: it may be failing. Please try another drive."
NO_ROOM = ("The drive ended before the whole image was written: it is smaller than it reports. "
           "Please use another drive.")


def with_cause(text, cause):
    """A writer's failure box: its text, an empty line, then the cause."""
    return text + "\n\n" + cause
SUCCESS = ("Halcyra has been successfully written to drive E:. Please insert the Halcyra USB "
           "Flash Drive into your computer and restart your computer to launch Halcyra. The "
           "Halcyra creator will close when ok is clicked.")
IMAGE_PATH = "/halcyra/image"
IMAGE_QUERY = "product=halcyra&channel=current"

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import boot_check  # noqa: E402
import make_demo_image  # noqa: E402


def build_demo_image(path, size=make_demo_image.DEFAULT_SIZE):
    """The demo boot image (boot sector and numbered filler sectors) at `path`."""
    make_demo_image.build(path, size)
    return path


def boots(disk, timeout=30):
    """True when QEMU shows the Halcyra banner on the serial port when started from `disk`."""
    return boot_check.boots(disk, timeout)[0]


class ImageServer:
    """The stand-in application server on 127.0.0.1, in its own process. With
    validators=False it sends neither ETag nor Last-Modified, so that the program downloads the
    image in every run instead of using the image it kept."""

    def __init__(self, image, mode="normal", port=0, validators=True, **options):
        self.image = image
        self.mode = mode
        self.port = port
        self.validators = validators
        self.options = options
        self.process = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        command = [sys.executable, os.path.join(SOURCE_DIR, "tests", "server", "image_server.py"),
                   "--image", self.image, "--mode", self.mode, "--port", str(self.port),
                   "--path", IMAGE_PATH, "--query", IMAGE_QUERY]
        for name, value in self.options.items():
            command += ["--" + name.replace("_", "-"), str(value)]
        if not self.validators:
            command.append("--no-validators")
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("PORT "):
            raise RuntimeError("image server did not start")
        self.port = int(line.split()[1])

    def stop(self):
        if self.process:
            if self.process.poll() is None:
                self.process.terminate()
                self.process.wait(10)
            self.process.stdout.close()
        self.process = None

    @property
    def url(self):
        return "http://127.0.0.1:%d%s?%s" % (self.port, IMAGE_PATH, IMAGE_QUERY)

    def program_settings(self):
        """The program's settings that point it at this server."""
        return {"ImageAddress": self.url}

    def control(self, **settings):
        """Changes mode, rate or trickle interval of the running server."""
        query = urllib.parse.urlencode(settings)
        urllib.request.urlopen("http://127.0.0.1:%d/_control?%s" % (self.port, query)).read()

    def bodies(self):
        """The number of image bodies the server has sent whole."""
        return int(urllib.request.urlopen("http://127.0.0.1:%d/_bodies" % self.port).read())

    def requests(self):
        """The image requests so far, each a dict (rand, mode, end, sent, time, end_time)."""
        data = urllib.request.urlopen("http://127.0.0.1:%d/_requests" % self.port).read()
        return [json.loads(line) for line in data.decode().splitlines() if line]


def add_target_drive(session, disk_size=16 << 20, volume_size=1 << 20, label="BACKUP",
                     disk_fill=b"\xee", volume_fill=b"\xdd", folder=None, size_bytes=None):
    """Removable drive E: whose volume (\\\\.\\E:) and physical disk 1 are files in `folder`
    (default: the session's own folder); size_bytes: the total the drive reports (a tmpfs of
    that size behind it). Returns (disk path, volume path)."""
    folder = folder or session.path()
    disk, volume = os.path.join(folder, "disk1.img"), os.path.join(folder, "volume_e.img")
    fill_file(disk, disk_size, disk_fill)
    fill_file(volume, volume_size, volume_fill)
    for _ in range(3):
        session.add_removable_drive("E", label=label, volume_file=volume, disk_file=disk,
                                    disk_number=1, size_bytes=size_bytes)
        # The drive type is read when the prefix starts; now and then the restart lost the
        # value just written, so it is checked and written again.
        session.restart_driver()
        if session.driver.reg_get("HKLM", r"Software\Wine\Drives", "e:"):
            break
    return disk, volume


def fill_file(path, size, byte):
    block = byte * (1 << 20)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            f.write(block[:min(left, len(block))])
            left -= len(block)


def is_filled(path, byte, offset=0, length=None):
    """True when the file holds only `byte` from offset (for length bytes, or to its end)."""
    with open(path, "rb") as f:
        f.seek(offset)
        left = length
        while left is None or left > 0:
            block = f.read(1 << 20 if left is None else min(1 << 20, left))
            if not block:
                return left is None
            if block.count(byte) != len(block):
                return False
            if left is not None:
                left -= len(block)
    return True


def starts_with_file(path, image):
    """True when `path` holds the bytes of `image` from offset 0."""
    with open(path, "rb") as disk, open(image, "rb") as source:
        while True:
            block = source.read(1 << 20)
            if not block:
                return True
            if disk.read(len(block)) != block:
                return False


def open_welcome(driver, timeout=40):
    return driver.wait_window(PAGE, control=PAGE_TEXT, timeout=timeout)


def open_drive_page(driver, first=True):
    """From the welcome page (first showing, which answers the intro message) or from the
    drive page itself; returns the drive page."""
    if first:
        driver.click(open_welcome(driver), NEXT)
        driver.answer(driver.wait_message_box("Halcyra", timeout=20), "ok")
    return driver.wait_window(PAGE, control=DRIVE_LIST, timeout=20)


def create_on(driver, drive_page):
    """Create and Yes to the warning; returns the progress page."""
    wait_until(lambda: driver.enabled(drive_page, NEXT), timeout=20, message="Create enabled")
    driver.click(drive_page, NEXT)
    box = driver.wait_message_box("Are you sure?", timeout=10)
    driver.answer(box, "yes")
    return driver.wait_window(PAGE, control=BAR, timeout=30)


def open_progress_page(driver, first=True):
    return create_on(driver, open_drive_page(driver, first))


def message_boxes(driver):
    """Captions of the message boxes open now."""
    return [caption for handle, kind, caption in driver.windows() if kind == "#32770"
            and caption != PAGE]


def watch(driver, page, until, interval=0.05, timeout=120, on_sample=None):
    """Samples status, bar and the page's answer time until until(sample) is true.

    A sample is a dict: t (seconds), status, bar, ping (ms). Returns the list of samples.
    Stops when the page has gone (the last sample then has status None).
    """
    samples, start = [], time.monotonic()
    while True:
        sample = {"t": time.monotonic() - start}
        try:
            sample["ping"] = driver.ping(page, 5000)
            sample["status"] = driver.text(page, STATUS)
            sample["bar"] = driver.progress_pos(page, BAR)
        except AssertionError:
            sample.update(status=None, bar=None, ping=sample.get("ping"))
        samples.append(sample)
        if on_sample:
            on_sample(sample)
        if sample["status"] is None or until(sample):
            return samples
        if sample["t"] > timeout:
            raise AssertionError("timed out watching the progress page; last: %r" % sample)
        time.sleep(interval)


STICK_TOOL = os.path.join(SOURCE_DIR, "tests", "stick", "fake_stick.py")


class FakeStick:
    """A stick served through FUSE (tests/stick/fake_stick.py) behind \\\\.\\PHYSICALDRIVE1 of
    the session: it reports `size` bytes and may keep fewer, keep nothing, write slowly, or
    refuse every write past `fail_after` with the errno named `fail_errno`."""

    def __init__(self, session, name, size, keep=0, forget=False, delay_ms=0, corrupt=-1,
                 fail_after=-1, fail_errno="EIO"):
        self.session, self.size, self.corrupt = session, size, corrupt
        self.mount = session.path(name)
        self.options = ["--size", str(size), "--keep", str(keep), "--delay-ms", str(delay_ms),
                        "--corrupt", str(corrupt), "--fail-after", str(fail_after),
                        "--fail-errno", fail_errno]
        if forget:
            self.options.append("--forget")
        self.process = None

    def __enter__(self):
        os.makedirs(self.mount, exist_ok=True)
        self.process = subprocess.Popen(["/usr/bin/python3", STICK_TOOL, self.mount] + self.options,
                                        stdout=subprocess.PIPE, text=True)
        if self.process.stdout.readline().strip() != "READY":
            raise RuntimeError("the fake stick did not start")
        self.session.link_device("physicaldrive1", self.path)
        return self

    def __exit__(self, *exc):
        subprocess.run(["fusermount", "-u", "-z", self.mount], stderr=subprocess.DEVNULL)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.process.stdout.close()
        return False

    @property
    def path(self):
        return os.path.join(self.mount, "disk")


DATA_FOLDER = ("ProgramData", "Halcyra Creator")


def data_file(session, name):
    """Path of a file of the program's own: in its folder under C:\ProgramData, else (when the
    program fell back to it) in the user's temporary folder; None when there is none."""
    path = session.c_drive(*DATA_FOLDER, name)
    if os.path.exists(path):
        return path
    for root, _, files in os.walk(session.c_drive("users")):
        if name in files:
            return os.path.join(root, name)
    return None


def downloaded_image(session):
    """Path of the image file the program downloaded."""
    return data_file(session, "HalcyraImage.bin")


def kept_record(session):
    """The record of the kept image, as the program keeps it in its registry key; "" when
    there is none."""
    value = session.driver.reg_get("HKLM", SETTINGS_KEY, "KeptImage")
    return value[1].decode("latin-1").rstrip("\0").replace("\r\n", "\n") if value else ""


def format_size(count):
    """A byte count as the program shows it ("4.01 MB")."""
    for limit, unit in ((1 << 30, "GB"), (1 << 20, "MB"), (1 << 10, "KB")):
        if count >= limit:
            return "%.2f %s" % (count / limit, unit)
    return "%d Bytes" % count


def cache_folder(session):
    """The browser cache folder of the prefix's user, where the platform's download function
    keeps its copies."""
    users = session.c_drive("users")
    for user in os.listdir(users):
        folder = os.path.join(users, user, "AppData", "Local", "Microsoft", "Windows", "INetCache")
        if os.path.isdir(folder):
            return folder
    return None


def cached_copies(session, lengths=None):
    """The files in the prefix's browser cache besides its index; with `lengths`, only those of
    one of these lengths."""
    folder = cache_folder(session)
    found = []
    for root, _, files in (os.walk(folder) if folder else ()):
        found += [os.path.join(root, f) for f in files if f != "index.dat" and
                  (lengths is None or os.path.getsize(os.path.join(root, f)) in lengths)]
    return found


def run_log(session):
    """The program's run log (HalcyraCreator.log) as text; empty before the program has written
    it."""
    path = data_file(session, "HalcyraCreator.log")
    if not path:
        return ""
    with open(path, "rb") as f:
        return f.read().decode("latin-1")
