"""Test harness for running Halcyra Creator under Wine.

A WineSession gives one test a private Wine prefix (copied from a base prefix that is made once
per build folder), a private Xvfb display, a UI driver process inside that prefix, and helpers
for the things the tests set up: removable drives backed by directories and files, registry
values, test programs. Leaving the session ends every process of its prefix and its display and
removes the prefix; a session left by an exception first saves a screenshot under out/failures.

    from harness import WineSession
    with WineSession("name") as s:
        s.add_removable_drive("E", label="BACKUP")
        program = s.start_program()
        page = s.driver.wait_window("Halcyra Creator", control=1002)
        s.driver.click(page, 1)
        assert program.wait(30) == 0

Environment: HALCYRA_WIN64_DIR (the x86_64 Windows build folder) and HALCYRA_SOURCE_DIR.
With HALCYRA_ARCH=win32 the same tests run the shipped i686 build of HALCYRA_WIN32_DIR instead,
with 32-bit Wine in the i386 chroot that tools/wine32-setup.sh makes (see Wine32 below).
"""

import atexit
import fcntl
import glob
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zlib

ARCH = os.environ.get("HALCYRA_ARCH", "win64")
WINE64 = os.environ.get("HALCYRA_WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("HALCYRA_WINESERVER", "/usr/lib/wine/wineserver64")
if not os.path.exists(WINESERVER):
    WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"

# The build folder, absolute, since the programs run from the session's own folder.
_BUILD_VARIABLE = "HALCYRA_WIN32_DIR" if ARCH == "win32" else "HALCYRA_WIN64_DIR"
BUILD_DIR = os.path.abspath(os.environ[_BUILD_VARIABLE]) if os.environ.get(_BUILD_VARIABLE) else ""
SOURCE_DIR = os.environ.get(
    "HALCYRA_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


class Wine32:
    """How the shipped i686 build runs here: 32-bit Wine in an i386 chroot whose binaries run
    through qemu-i386 (tools/wine32-setup.sh). The chroot sees the host's share/ folder at the
    same path, so the harness keeps everything Wine opens there (temporary folders, prefixes,
    copies of the programs) and every path and dosdevices link means the same on both sides.
    WINE64 and WINESERVER become scripts that run the chroot's wine and wineserver."""

    def __init__(self):
        setup = os.path.join(SOURCE_DIR, "tools", "wine32-setup.sh")
        done = subprocess.run([setup], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            raise RuntimeError("the 32-bit Wine set-up is not available, so the shipped program "
                               "can't run: " + (done.stderr.strip() or "wine32-setup.sh failed"))
        self.chroot = done.stdout.strip().splitlines()[-1]
        self.share = os.path.join(os.path.dirname(self.chroot), "share")
        self.programs = tempfile.mkdtemp(prefix="programs-", dir=self.share)
        tempfile.tempdir = tempfile.mkdtemp(prefix="tmp-", dir=self.share)
        for folder in (self.programs, tempfile.tempdir):
            atexit.register(shutil.rmtree, folder, True)

    def command(self, program):
        """A script that runs one of the chroot's Wine programs (exec keeps the process id, so
        exit codes and kills reach Wine itself)."""
        script = os.path.join(self.programs, program)
        with open(script, "w") as f:
            f.write('#!/bin/sh\nexec chroot "%s" /usr/lib/wine/%s "$@"\n' % (self.chroot, program))
        os.chmod(script, 0o755)
        return script

    def visible(self, path):
        """A copy of a build file where the chroot sees it."""
        copy = os.path.join(self.programs, os.path.basename(path))
        if not os.path.exists(copy) or os.path.getmtime(copy) < os.path.getmtime(path):
            shutil.copy2(path, copy)
        return copy


WINE32 = Wine32() if ARCH == "win32" else None
if WINE32:
    WINE64, WINESERVER = WINE32.command("wine"), WINE32.command("wineserver32")
SCREEN = (1024, 768)

SETTINGS_KEY = r"Software\Halcyra\Halcyra"
SETTINGS_VALUE = "Halcyra"
REG_SZ = 1
REG_BINARY = 3
REG_DWORD = 4

# What the program reads from its key of the local machine besides the option word: the image's
# address and the test suite's seams, each a string (REG_SZ) or a number (REG_DWORD).
PROGRAM_SETTINGS = {
    "ImageAddress": REG_SZ,
    "TestStallSeconds": REG_DWORD,     # the download's stall limit
    "TestRefuseLocks": REG_DWORD,      # the first n volume locks fail
    "TestDownloadLog": REG_SZ,         # a file for the download's raw reports
    "TestTaskbarLog": REG_SZ,          # a file for the calls on the taskbar button
    "TestTaskbarUnavailable": REG_DWORD,
}

# Message box button ids, for answer().
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


def exe_path(name):
    """Path of an executable of the x86_64 build."""
    path = os.path.join(BUILD_DIR, name)
    if not os.path.exists(path):
        raise RuntimeError("%s not built (build folder %r)" % (name, BUILD_DIR))
    return WINE32.visible(path) if WINE32 else path


def _base_env(prefix, display):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        # No Mono or Gecko (there is no network to offer them from), and no menu entries and
        # file associations for the host's desktop, which Wine's menu builder makes at each
        # prefix start.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "DISPLAY": display,
        "WINEARCH": ARCH,
    })
    return env


def _start_wineserver(env):
    """Starts the prefix's wineserver to stay until killed. It runs on in the background, so it
    must not hold the test's output: CTest waits for that to close before it ends the test."""
    subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def _stop_wineserver(env):
    """Ends every process of the prefix and waits for its wineserver to go."""
    subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    except subprocess.TimeoutExpired:
        subprocess.run([WINESERVER, "-k9"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _registry_text(values):
    """Sections of a Wine registry file (system.reg, user.reg) that set `values`, a dict of
    (key, value name) -> (type, data). Wine reads the file when the prefix starts; a section of
    a key that comes again adds its values to those before."""
    sections = {}
    for (key, name), (kind, data) in values.items():
        if kind == REG_SZ and isinstance(data, str):
            if not all(" " <= c <= "~" for c in data):
                raise ValueError("not a plain text value: %r" % data)
            text = '"%s"' % data.replace("\\", "\\\\").replace('"', '\\"')
        elif kind == REG_DWORD:
            text = "dword:%08x" % (int.from_bytes(data, "little") if isinstance(data, bytes) else data)
        else:
            data = data.encode("latin-1") + b"\0" if isinstance(data, str) else data
            text = ("hex:" if kind == REG_BINARY else "hex(%x):" % kind) + ",".join(
                "%02x" % b for b in data)
        sections.setdefault(key, []).append('"%s"=%s' % (name, text))
    return "".join("\n[%s]\n%s\n" % (key.replace("\\", "\\\\"), "\n".join(lines))
                   for key, lines in sections.items())


def _wine_stamp():
    """The time of the wine.inf of the Wine that runs the prefixes: Wine updates a prefix made
    by another version when it starts, and a base prefix is made again instead."""
    inf = (WINE32.chroot if WINE32 else "") + "/usr/share/wine/wine.inf"
    return str(os.stat(inf).st_mtime_ns) if os.path.exists(inf) else "none"


def _base_prefix():
    """The prefix every session copies: made once per build folder and Wine, under a lock."""
    root = os.path.join(BUILD_DIR or tempfile.gettempdir(), "wine-base")
    if WINE32:
        root = os.path.join(WINE32.share, "wine-base-%08x" % zlib.crc32(BUILD_DIR.encode()))
    prefix = os.path.join(root, "prefix")
    ready = os.path.join(root, "ready")
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = _wine_stamp()
        made = ""
        if os.path.exists(ready) and os.path.getmtime(ready) >= os.path.getmtime(__file__):
            with open(ready) as f:
                made = f.read()
        if made != stamp:
            shutil.rmtree(prefix, ignore_errors=True)
            env = _base_env(prefix, "")
            env.pop("DISPLAY")
            subprocess.run([WINE64, "wineboot", "-i"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
            # Wine doesn't pick up the fonts of fonts-wine by itself: without them the caption
            # buttons lose their glyphs and "MS Sans Serif" falls back to a font of other metrics.
            fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
            for font in os.listdir("/usr/share/wine/fonts"):
                shutil.copy(os.path.join("/usr/share/wine/fonts", font), fonts)
            with open(ready, "w") as f:
                f.write(stamp)
    return prefix


# Files of a prefix that Wine only reads: its programs, libraries, national language tables
# and fonts.
_READ_ONLY_FILES = (".dll", ".exe", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".tlb", ".nls",
                    ".fon", ".ttf", ".manifest", ".msstyles")


def copy_prefix(base, target):
    """A copy of a base prefix for one session or run. The files Wine only reads, all but 4 MB
    of a prefix's 600 to 700 MB, are hard links to those of the base (copies where links can't
    be made); the rest (the registry, .ini files, the links of dosdevices) is copied."""
    for folder, folders, files in os.walk(base):
        copy = os.path.join(target, os.path.relpath(folder, base))
        os.makedirs(copy, exist_ok=True)
        for name in folders + files:
            source, destination = os.path.join(folder, name), os.path.join(copy, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), destination)
            elif name in files:
                try:
                    if not name.lower().endswith(_READ_ONLY_FILES):
                        raise OSError
                    os.link(source, destination)
                except OSError:
                    shutil.copy2(source, destination)
        shutil.copystat(folder, copy)


class Xvfb:
    """A private X display."""

    def __init__(self):
        self.number = None
        self.process = None

    def start(self):
        # Sessions of other test runs on this machine pick numbers at the same time. A number
        # is ours only when our own server reports it on -displayfd, which it does once it
        # listens; a server that finds the number taken ends without reporting it. (The
        # number's socket appearing proves nothing: it may be the other session's server, and
        # a session that took it for its own lost its windows when that server ended.) The
        # numbers start above those that older copies of this harness try, since those still
        # take a socket they see appear for their own.
        for number in range(400, 1000):
            if os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
                continue
            report, write_end = os.pipe()
            process = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-displayfd", str(write_end), "-screen", "0",
                 "%dx%dx24" % SCREEN, "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,))
            os.close(write_end)
            try:
                reported = _read_line(report, timeout=30)
            finally:
                os.close(report)
            if reported == str(number) and process.poll() is None:
                self.number, self.process = number, process
                return ":%d" % number
            if process.poll() is None:
                process.kill()
            process.wait()
        raise RuntimeError("no free X display")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def _read_line(fd, timeout):
    """The first line written to a pipe, without its end; "" if the pipe closes or nothing
    comes within `timeout` seconds."""
    data, deadline = b"", time.monotonic() + timeout
    while not data.endswith(b"\n"):
        ready, _, _ = select.select([fd], [], [], max(0, deadline - time.monotonic()))
        chunk = os.read(fd, 64) if ready else b""
        if not chunk:
            return ""
        data += chunk
    return data.decode("ascii", "replace").strip()


def _wine_processes():
    """What the machine's Wine, emulator and display processes are doing, for a failure report."""
    listing = subprocess.run(["ps", "-eo", "pid,ppid,stat,etime,time,wchan:24,args"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    lines = listing.splitlines()
    keep = [l for l in lines[1:] if any(k in l for k in ("wine", "qemu", "Xvfb", ".exe"))]
    return "\n".join(lines[:1] + keep)


class DriverError(AssertionError):
    pass


class UiDriver:
    """Talks to uidriver.exe, which runs inside the session's prefix and desktop. What Wine
    writes to the driver's standard error goes to `log`, for the report of a driver that ends.
    With `boot`, the driver starts at its first command, by calling boot() (which starts the
    prefix and the driver); without, at once."""

    def __init__(self, env, log=os.devnull, boot=None):
        self.env = env
        self.log = log
        self.process = None
        self.boot = boot
        if boot is None:
            self.start()

    def start(self):
        # Wine's error messages too, which the sessions' WINEDEBUG otherwise turns off.
        env = dict(self.env, WINEDEBUG="-all,err+all")
        with open(self.log, "ab") as errors:
            self.process = subprocess.Popen([WINE64, exe_path("uidriver.exe")], env=env,
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=errors, text=True, bufsize=1,
                                            encoding="cp1252", errors="replace")

    def answers(self):
        """Raises DriverError unless the driver answers a command (a registry read)."""
        self.call("reg_get", "HKCU", "Environment", "TEMP")

    def ended(self, command):
        try:
            code = self.process.wait(5)
        except subprocess.TimeoutExpired:
            code = "none yet"
        try:
            with open(self.log, "rb") as f:
                tail = f.read()[-2000:].decode("latin-1")
        except OSError:
            tail = ""
        return DriverError("%s: UI driver ended (exit code %s)\n%s" % (command, code, tail))

    def call(self, *fields, timeout=180):
        if self.process is None:
            self.boot()
        line = "\t".join(str(f) for f in fields)
        try:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
        except OSError:
            raise self.ended(fields[0])
        # Every command answers within its own time-out; a driver that hangs fails the test.
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready:
            self.process.kill()
            raise DriverError("%s: UI driver gave no answer\n%s" % (fields[0], _wine_processes()))
        answer = self.process.stdout.readline()
        if not answer:
            raise self.ended(fields[0])
        answer = answer.rstrip("\r\n")
        if answer.startswith("ok"):
            return _unescape(answer[3:])
        raise DriverError("%s: %s" % (fields[0], answer))

    def stop(self):
        if self.process is None:
            return
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.flush()
            self.process.wait(5)
        except Exception:
            self.process.kill()
        for stream in (self.process.stdin, self.process.stdout):
            try:
                stream.close()
            except Exception:
                pass

    # Windows
    def wait_window(self, caption, control=0, timeout=15):
        """Handle of a visible top-level window with this caption (and this control)."""
        return int(self.call("wait_window", caption, control, int(timeout * 1000)))

    def find_window(self, caption, control=0):
        try:
            return int(self.call("wait_window", caption, control, 0))
        except DriverError:
            return None

    def wait_message_box(self, caption, timeout=15):
        return int(self.call("wait_message_box", caption, int(timeout * 1000)))

    def find_message_box(self, caption):
        try:
            return int(self.call("wait_message_box", caption, 0))
        except DriverError:
            return None

    def wait_gone(self, window, timeout=15):
        self.call("wait_gone", window, int(timeout * 1000))

    def exists(self, window):
        return self.call("exists", window) == "1"

    def windows(self):
        """(handle, class, caption) of every visible top-level window of other processes."""
        return [tuple(item.split("|", 2)) for item in self.call("windows").split("\x1f") if item]

    def children(self, window):
        """(id, class, text, visible, enabled) of each child window."""
        return [tuple(item.split("|", 4)) for item in self.call("children", window).split("\x1f") if item]

    def window_text(self, window):
        return self.call("window_text", window)

    def rect(self, window):
        return tuple(int(v) for v in self.call("rect", window).split())

    # Controls
    def control_rect(self, window, control):
        """Screen rectangle (left, top, right, bottom) of a control."""
        return tuple(int(v) for v in self.call("control_rect", window, control).split())

    def client_rect(self, window):
        """Screen rectangle (left, top, right, bottom) of a window's client area."""
        return tuple(int(v) for v in self.call("client_rect", window).split())

    def tooltip(self):
        """Text of the tooltip on screen, or None."""
        try:
            return self.call("tooltip")
        except DriverError:
            return None

    def text(self, window, control):
        return self.call("text", window, control)

    def set_text(self, window, control, text):
        try:
            text.encode("cp1252")
        except UnicodeEncodeError:  # letters outside the code page go as they are
            self.call("set_text_wide", window, control, text.encode("utf-16-le").hex())
            return
        self.call("set_text", window, control, text)

    def enabled(self, window, control):
        return self.call("enabled", window, control) == "1"

    def visible(self, window, control):
        return self.call("visible", window, control) == "1"

    def checked(self, window, control):
        return int(self.call("checked", window, control))

    def click(self, window, control):
        self.call("click", window, control)

    def command(self, window, command_id):
        """WM_COMMAND as the dialog manager sends it (1 for Enter, 2 for Escape)."""
        self.call("command", window, command_id)

    def post(self, window, message, wparam=0, lparam=0):
        self.call("post", window, message, wparam, lparam)

    def send(self, window, message, wparam=0, lparam=0):
        """Sends a message and returns its result."""
        return int(self.call("send", window, message, wparam, lparam))

    def registered_message(self, name):
        """The number of the registered window message `name` (RegisterWindowMessage)."""
        return int(self.call("register", name))

    def close(self, window):
        """The close box: WM_SYSCOMMAND SC_CLOSE."""
        self.call("close", window)

    def combo_items(self, window, control):
        return [item for item in self.call("combo_items", window, control).split("\x1f") if item]

    def combo_selection(self, window, control):
        return int(self.call("combo_selection", window, control))

    def combo_select(self, window, control, index):
        self.call("combo_select", window, control, index)

    def progress_pos(self, window, control):
        return int(self.call("progress", window, control))

    def ping(self, window, timeout_ms=5000):
        """Milliseconds the window's thread takes to answer a message."""
        return int(self.call("ping", window, timeout_ms))

    def volume_notice(self, event, letters):
        """Broadcasts WM_DEVICECHANGE as the system does when volumes come ("arrival") or go
        ("removal"): one DEV_BROADCAST_VOLUME whose unit mask names the letters."""
        self.call("volume_notice", event, letters)

    # Message boxes
    def message_text(self, box):
        return self.call("message_text", box)

    def answer(self, box, answer):
        """Presses a message box button: "yes", "no", "ok" or "cancel"."""
        self.call("answer", box, answer)

    def expect_message(self, caption, timeout=15):
        """Waits for a message box and returns (handle, text)."""
        box = self.wait_message_box(caption, timeout)
        return box, self.message_text(box)

    # Registry
    def reg_get(self, root, key, value):
        """(type, bytes) of a value, or None when it can't be read."""
        try:
            kind, data = self.call("reg_get", root, key, value).split(" ", 1)
        except DriverError:
            return None
        return int(kind), bytes.fromhex(data)

    def reg_set(self, root, key, value, kind, data):
        """A value; a str is stored as Windows-1252 text, unless it has letters outside that
        code page, which are stored as they are (through the wide call)."""
        if isinstance(data, str):
            try:
                data = data.encode("cp1252") + b"\0"
            except UnicodeEncodeError:
                self.call("reg_set_wide", root, key, value, kind,
                          (data + "\0").encode("utf-16-le").hex())
                return
        self.call("reg_set", root, key, value, kind, data.hex())

    def reg_delete_key(self, root, key):
        self.call("reg_delete_key", root, key)


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}.get(nxt, nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Program:
    """A Windows program started in the session."""

    def __init__(self, args, env, cwd=None):
        self.process = subprocess.Popen(args, env=env, cwd=cwd, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)

    def wait(self, timeout=30):
        """The program's exit code."""
        self.process.wait(timeout)
        return self.process.returncode

    def running(self):
        return self.process.poll() is None

    def output(self):
        return self.process.stdout.read().decode("latin-1").replace("\r\n", "\n")


class WineSession:
    """A private prefix, display and UI driver for one test.

    The prefix's processes start when the test first needs them: at the first command of the
    UI driver or the first program started. Until then what the session sets in the registry
    (the virtual desktop, the settings word, the drives and their types) is written into the
    prefix's registry files, which Wine reads when it starts, so that no restart is needed for
    it."""

    def __init__(self, name, virtual_desktop=True, accept_agreement=False):
        self.name = name
        self.virtual_desktop = virtual_desktop
        self.accept_agreement = accept_agreement
        self.root = None
        self.prefix = None
        self.display = None
        self.xvfb = Xvfb()
        self.driver = None
        self.env = None
        self.programs = []
        self.mounts = []
        self.drive_links = []
        self.drives_changed = False
        # Whether the prefix's processes have been started, and the registry values for the
        # files before its next start: {("HKLM" or "HKCU", key, name): (type, data)}.
        self.booted = False
        self.pending_values = {}

    # Lifetime
    def __enter__(self):
        # Python calls no __exit__ for a failed __enter__, so a failed start is stopped here,
        # or its display outlives the test.
        try:
            return self._start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise

    def _start(self):
        base = _base_prefix()
        self.root = tempfile.mkdtemp(prefix="halcyra-%s-" % self.name)
        self.prefix = os.path.join(self.root, "prefix")
        copy_prefix(base, self.prefix)
        self.display = self.xvfb.start()
        self.env = _base_env(self.prefix, self.display)
        self.driver = UiDriver(self.env, self.path("uidriver.log"), boot=self._boot)
        if self.virtual_desktop:
            # Every program of the prefix then shares one desktop with window frames.
            self._set_value("HKCU", r"Software\Wine\Explorer", "Desktop", REG_SZ, "Default")
            self._set_value("HKCU", r"Software\Wine\Explorer\Desktops", "Default", REG_SZ,
                            "%dx%d" % SCREEN)
        if self.accept_agreement:
            self.set_settings_word(0x1)
        return self

    def _boot(self):
        """Starts the prefix's wineserver and the UI driver, once."""
        if self.booted:
            return
        self.booted = True
        self._start_prefix("started")

    def _start_prefix(self, verb):
        """Starts the stopped prefix with its pending registry values, and the UI driver. A
        driver that gives no answer (seen once in a 32-bit run, where Wine runs under qemu, and
        once on a loaded machine, where it had ended at its start) gets the prefix started once
        more, its report on stderr: no program of the test has run since the last start."""
        self.drives_changed = False
        for attempt in (1, 2):
            self._write_pending_values()
            _start_wineserver(self.env)
            self.driver.start()
            try:
                self.driver.answers()
                return
            except DriverError as error:
                if attempt == 2:
                    raise
                sys.stderr.write("session %s %s again after: %s\n" % (self.name, verb, error))
                self.driver.stop()
                _stop_wineserver(self.env)

    def __exit__(self, kind, value, trace):
        if kind is not None:
            try:
                folder = os.path.join(SOURCE_DIR, "out", "failures")
                os.makedirs(folder, exist_ok=True)
                self.screenshot(os.path.join(folder, "%s.png" % self.name))
            except Exception:
                pass
            self._report_run_logs()
        self.stop()
        return False

    def _report_run_logs(self):
        """The end of each run log of the program in the prefix, on stderr, for the report of a
        failed test (the session's folder goes with the session)."""
        for path in sorted(glob.glob(os.path.join(self.prefix or "", "drive_c", "**",
                                                  "HalcyraCreator.log"), recursive=True)):
            with open(path, "rb") as f:
                tail = f.read()[-6000:].decode("latin-1")
            sys.stderr.write("--- the end of %s\n%s\n---\n" % (path, tail))

    def stop(self):
        if self.driver:
            self.driver.stop()
            self.driver = None
        if self.booted:
            _stop_wineserver(self.env)
        for program in self.programs:
            if program.running():
                program.process.kill()
                program.process.wait()
            if program.process.stdout:
                program.process.stdout.close()
        self.xvfb.stop()
        for mount in reversed(self.mounts):
            subprocess.run(["umount", "-l", mount], stderr=subprocess.DEVNULL)
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)
            self.root = None

    def restart_driver(self):
        """Starts the prefix and the UI driver again, so that Wine reads what it reads only
        when it starts (the drive types). Before the prefix has first started, nothing to do."""
        if not self.booted:
            return
        # The same driver object goes on with a new process, so references to it stay valid.
        self.driver.stop()
        _stop_wineserver(self.env)
        self._start_prefix("restarted")

    def _apply_drive_changes(self):
        # Wine reads the drive types when the prefix starts: start it, or restart it after a
        # change.
        if not self.booted:
            self._boot()
        elif self.drives_changed:
            self.restart_driver()

    def _set_value(self, root, key, name, kind, data, keep=False):
        """Sets a registry value of the session: in the registry files until the prefix has
        started, else through the UI driver. keep: also written into the files at the next
        restart, since a prefix stopped soon after a change may not have saved it."""
        if not self.booted and isinstance(data, str) and not all(" " <= c <= "~" for c in data):
            self._boot()  # the registry files take plain text only: the driver writes the rest
        if not self.booted or keep:
            self.pending_values[(root, key, name)] = (kind, data)
        if self.booted:
            self.driver.reg_set(root, key, name, kind, data)

    def _write_pending_values(self):
        """Writes the pending registry values into the files of the stopped prefix."""
        for root, file_name in (("HKLM", "system.reg"), ("HKCU", "user.reg")):
            values = {(key, name): value for (where, key, name), value
                      in self.pending_values.items() if where == root}
            if values:
                with open(os.path.join(self.prefix, file_name), "a") as f:
                    f.write(_registry_text(values))
        self.pending_values = {}

    # Paths
    def path(self, *parts):
        """A path inside the session's own folder (outside the prefix)."""
        return os.path.join(self.root, *parts)

    def c_drive(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def dosdevices(self, name):
        return os.path.join(self.prefix, "dosdevices", name)

    # Programs
    def install_program(self, directory=None, exe_name="HalcyraCreator.exe"):
        """Copies the program into a folder (default C:\\Halcyra) and returns the Unix path."""
        directory = directory or self.c_drive("Halcyra")
        os.makedirs(directory, exist_ok=True)
        target = os.path.join(directory, exe_name)
        shutil.copy(exe_path("HalcyraCreator.exe"), target)
        return target

    def start_program(self, windows_path=r"C:\Halcyra\HalcyraCreator.exe", env=None, settings=None):
        """Starts the program as a user would, from a Windows path inside the prefix. `settings`
        are the program's own (PROGRAM_SETTINGS), written where it reads them, under its key of
        the local machine; those not given are cleared. `env` is the process's environment,
        which the program never reads."""
        if windows_path == r"C:\Halcyra\HalcyraCreator.exe":
            self.install_program()
        if self.booted:  # through the running prefix, once it has read its drives again
            self._apply_drive_changes()
            self.set_program_settings(settings or {})
        else:  # into the registry files the prefix reads at its start
            self.set_program_settings(settings or {})
            self._apply_drive_changes()
        run_env = dict(self.env)
        run_env.update(env or {})
        program = Program([WINE64, windows_path], run_env, cwd=self.root)
        self.programs.append(program)
        return program

    def start_tool(self, name, args=(), env=None):
        """Starts a test program of the build (tests/harness/tools) without waiting."""
        self._apply_drive_changes()
        run_env = dict(self.env)
        run_env.update(env or {})
        program = Program([WINE64, exe_path(name)] + list(args), run_env, cwd=self.root)
        self.programs.append(program)
        return program

    def run_tool(self, name, args=(), env=None, timeout=120):
        """Runs a test program to its end; returns (exit code, standard output)."""
        program = self.start_tool(name, args, env)
        out, _ = program.process.communicate(timeout=timeout)
        return program.process.returncode, out.decode("latin-1").replace("\r\n", "\n")

    # Settings
    def set_program_settings(self, settings):
        """Writes each of PROGRAM_SETTINGS: the value given, else an empty string or 0."""
        unknown = set(settings) - set(PROGRAM_SETTINGS)
        if unknown:
            raise ValueError("not a setting of the program: %s" % ", ".join(sorted(unknown)))
        for name, kind in PROGRAM_SETTINGS.items():
            value = settings.get(name, "" if kind == REG_SZ else 0)
            if kind == REG_DWORD:
                value = int(value).to_bytes(4, "little")
            self._set_value("HKLM", SETTINGS_KEY, name, kind, value)

    def set_settings_word(self, word):
        self._set_value("HKLM", SETTINGS_KEY, SETTINGS_VALUE, REG_BINARY, word.to_bytes(4, "little"))

    def settings_value(self):
        """(type, bytes) of the stored option word, or None."""
        return self.driver.reg_get("HKLM", SETTINGS_KEY, SETTINGS_VALUE)

    # Drives
    def add_removable_drive(self, letter, directory=None, label=None, volume_file=None,
                            disk_file=None, disk_number=1, size_bytes=None):
        """Makes drive `letter` a removable drive backed by a directory.

        label: written where Wine reads volume labels (.windows-label; Wine ignores it while a
        volume_file is linked). volume_file: what \\\\.\\X: opens. disk_file: what
        \\\\.\\PHYSICALDRIVE<disk_number> opens. size_bytes: back the directory by a tmpfs of
        exactly that size, so that the drive reports it as its total. Returns the directory.
        Wine reads drive types when the prefix starts, so the next start_program or start_tool
        restarts the prefix first (or call restart_driver yourself).
        """
        letter = letter.lower()
        directory = directory or self.path("drive_" + letter)
        os.makedirs(directory, exist_ok=True)
        if size_bytes is not None and directory not in self.mounts:
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size_bytes, "tmpfs", directory],
                           check=True)
            self.mounts.append(directory)
        if label is not None:
            with open(os.path.join(directory, ".windows-label"), "w") as f:
                f.write(label)
        self._link(letter + ":", directory)
        if volume_file:
            self._link(letter + "::", volume_file)
        if disk_file:
            self._link("physicaldrive%d" % disk_number, disk_file)
        self._set_value("HKLM", r"Software\Wine\Drives", letter + ":", REG_SZ, "floppy", keep=True)
        self.drives_changed = True
        return directory

    def set_drive_type(self, letter, kind):
        """Wine's drive type for a letter: "floppy" (removable), "hd", "cdrom", "network"."""
        self._set_value("HKLM", r"Software\Wine\Drives", letter.lower() + ":", REG_SZ, kind,
                        keep=True)
        self.drives_changed = True

    def link_device(self, name, target):
        """Links a dosdevices entry (e.g. "e::" or "physicaldrive1") to a file or directory."""
        self._link(name, target)

    def unlink_device(self, name):
        path = self.dosdevices(name)
        if os.path.islink(path) or os.path.exists(path):
            os.unlink(path)

    def _link(self, name, target):
        path = self.dosdevices(name)
        if os.path.islink(path) or os.path.exists(path):
            os.unlink(path)
        os.symlink(target, path)

    # Screen
    def screenshot(self, path):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       check=True, timeout=30, stderr=subprocess.DEVNULL)
        return path

    def grab(self, left, top, width, height, path):
        """A screen area as a 24-bit PPM file; returns (width, height, pixel bytes)."""
        subprocess.run(["import", "-display", self.display, "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (width, height, left, top), "+repage", "-depth", "8",
                        "ppm:" + path], check=True, timeout=30, stderr=subprocess.DEVNULL)
        return read_ppm(path)

    def pixel(self, x, y):
        """(r, g, b) of one screen pixel."""
        _, _, data = self.grab(x, y, 1, 1, self.path("pixel.ppm"))
        return tuple(data[:3])

    def hover(self, x, y):
        """Moves the real mouse pointer to screen coordinates."""
        subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=dict(self.env), check=True)

    def hover_control(self, window, control):
        left, top, right, bottom = self.driver.control_rect(window, control)
        self.hover((left + right) // 2, (top + bottom) // 2)

    def click_at(self, x, y):
        """A real mouse click at screen coordinates."""
        env = dict(self.env)
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env, check=True)

    def key(self, *keys):
        env = dict(self.env)
        subprocess.run(["xdotool", "key"] + list(keys), env=env, check=True)


def read_ppm(path):
    """(width, height, RGB bytes) of a binary PPM file."""
    with open(path, "rb") as f:
        data = f.read()
    fields, position = [], 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    return int(fields[1]), int(fields[2]), data[position + 1:]


def image_pixels(path, scratch):
    """(width, height, RGB bytes) of an image file, through ImageMagick."""
    subprocess.run(["/usr/bin/convert", path, "-depth", "8", "ppm:" + scratch], check=True, timeout=30)
    return read_ppm(scratch)


def wait_until(predicate, timeout=10, interval=0.1, message="condition"):
    """Polls until predicate() is true; raises AssertionError after timeout seconds."""
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.time() > deadline:
            raise AssertionError("timed out waiting for " + message)
        time.sleep(interval)


if __name__ == "__main__":
    # tests/harness/run_unit_tests.sh: harness.py --copy-base-prefix <new prefix folder>
    if len(sys.argv) == 3 and sys.argv[1] == "--copy-base-prefix":
        copy_prefix(_base_prefix(), sys.argv[2])
    else:
        sys.exit("usage: harness.py --copy-base-prefix <new prefix folder>")
