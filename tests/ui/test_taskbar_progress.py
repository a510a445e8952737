"""The progress page's taskbar button, seen through the calls the real program makes on it
(the TestTaskbarLog setting: one line per call). Each row is one program run, from its start until
the user leaves."""

import os
import shutil
import sys
import tempfile
import unittest
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from harness import WineSession  # noqa: E402
from creation_flow import (DRIVE_LIST, PAGE, FakeStick, ImageServer, add_target_drive,  # noqa: E402
                           build_demo_image, open_progress_page, starts_with_file)

MIB = 1 << 20
DRIVE_PAGE_CANCEL = 4
WORK = tempfile.mkdtemp(prefix="halcyra-taskbar-")
IMAGE = build_demo_image(os.path.join(WORK, "demo.img"))


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


# server: the server's mode; stick: the size the stick reports; settings: more for the program;
# boxes: (caption, the button's state while it is open); states: the run's states in order,
# repeats merged (None: no call at all); totals: the range of each phase of rising values (the
# download, the write, the read-back).
Row = namedtuple("Row", "name server stick settings boxes states totals")
DONE = ("Operation Complete", "normal")
# Without the interface: a second try when the button is announced, and no other call.
NO_INTERFACE_LOG = ["unavailable", "button created", "unavailable"]
ROWS = [
    Row("with a length", "normal", 16 * MIB, {}, [DONE],
        ["indeterminate", "normal", "none"], [1000, 100, 100]),
    Row("without a length", "nolength", 16 * MIB, {}, [DONE],
        ["indeterminate", "normal", "none"], [100, 100]),
    Row("stick smaller than the image", "normal", 2 * MIB, {},
        [("Drive Error", "error"), ("Cancelled", "normal")],
        ["indeterminate", "normal", "error", "normal", "none"], [1000, 100]),
    Row("server error", "404", 16 * MIB, {}, [("Download Error", "error")],
        ["indeterminate", "error", "indeterminate", "none"], []),
    # The first piece arrives before the download stalls: its count is shown.
    Row("download stalls", "stall", 16 * MIB, {}, [("Download Error", "error")],
        ["indeterminate", "normal", "error", "normal", "none"], [1000]),
    Row("no interface", "normal", 16 * MIB, {"TestTaskbarUnavailable": 1},
        [("Operation Complete", None)], None, []),
]


def read_log(path):
    """The calls as lines ("ready", "state normal", "value 42 100", ...)."""
    with open(path) as f:
        return f.read().splitlines()


def states(log):
    """The states in order, repeats merged. A "none" before the run's first state is the button
    announced before the page has shown anything (a loaded machine's timing), not a state of
    the run."""
    found = [line.split()[1] for line in log if line.startswith("state ")]
    while found[:1] == ["none"] and len(found) > 1:
        found.pop(0)
    return [x for i, x in enumerate(found) if i == 0 or found[i - 1] != x]


def phases(log):
    """The values shown in the normal state as (range, values) phases: a new one where the
    range changes or the value falls."""
    result, state = [], None
    for words in (line.split() for line in log):
        state = words[1] if words[0] == "state" else state
        if words[0] == "value" and state == "normal":
            value, total = int(words[1]), int(words[2])
            if not result or result[-1][0] != total or result[-1][1][-1] > value:
                result.append((total, []))
            result[-1][1].append(value)
    return result


class TaskbarProgress(unittest.TestCase):
    def run_row(self, s, server, index, row):
        """One program run; returns its log."""
        d = s.driver
        log_path = s.path("taskbar%d.log" % index)
        server.control(mode=row.server)
        settings = dict(server.program_settings(), TestTaskbarLog=log_path, TestStallSeconds=4,
                        **row.settings)
        with FakeStick(s, "stick%d" % index, size=row.stick) as stick:
            program = s.start_program(settings=settings)
            try:
                page = open_progress_page(d)
                # Wine's shell never announces the button; here it is, as Windows announces it.
                d.send(page, d.registered_message("TaskbarButtonCreated"))
                for caption, state in row.boxes:
                    box = d.wait_message_box(caption, timeout=60)
                    shown = states(read_log(log_path)) if row.states else [None]
                    self.assertEqual(shown[-1], state, caption)
                    d.answer(box, "ok")
                    d.wait_gone(box, timeout=10)
                if row.boxes[-1][0] == "Operation Complete":
                    self.assertTrue(starts_with_file(stick.path, IMAGE), "image on the stick")
                else:
                    d.click(d.wait_window(PAGE, control=DRIVE_LIST, timeout=20), DRIVE_PAGE_CANCEL)
                self.assertEqual(program.wait(30), 0)
            finally:
                if program.running():  # a failed row leaves nothing behind for the next one
                    program.process.kill()
                    program.process.wait()
        return read_log(log_path)

    def test_the_button_follows_each_run_and_a_missing_interface_changes_nothing(self):
        # Every row downloads: without ETag and Last-Modified no run uses the image kept before.
        with WineSession("taskbar", accept_agreement=True) as s, \
                ImageServer(IMAGE, rate=1500000, validators=False, trickle_bytes=16384) as server:
            add_target_drive(s)
            for index, row in enumerate(ROWS):
                with self.subTest(row.name):
                    log = self.run_row(s, server, index, row)
                    if row.states is None:
                        self.assertEqual(log, NO_INTERFACE_LOG)
                        continue
                    # The announced button is told at once the state it should show.
                    at = log.index("button created")
                    self.assertEqual(log[at + 1], "state " + (states(log[:at]) or ["none"])[-1])
                    self.assertEqual([log[0]] + log[-2:], ["ready", "state none", "released"])
                    # The run's own states: without the one told to the button, which is "none"
                    # when the button is announced before the page has shown a state.
                    self.assertEqual(states(log[:at + 1] + log[at + 2:]), row.states)
                    found = phases(log)
                    self.assertEqual([total for total, _ in found], row.totals, found)
                    for total, values in found:
                        self.assertEqual(values, sorted(values), "values rise")
                        if row.server != "stall":  # which shows its first piece only
                            self.assertGreater(len(set(values)), 1, "values move")
                    if row.boxes[-1] == DONE:
                        self.assertEqual(found[-1][1][-1], 100, "the read-back ends full")

if __name__ == "__main__":
    unittest.main()
