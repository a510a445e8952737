"""The harness itself: sessions that start at the same moment (as those of test runs side by
side on one machine do) each get an X display of their own, and a session that fails while it
starts leaves nothing running."""

import multiprocessing
import os
import subprocess
import sys
import textwrap
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Xvfb  # noqa: E402

SESSIONS = 3


def start_display(barrier, results):
    display = Xvfb()
    barrier.wait()
    try:
        name = display.start()
        results.put((name, display.process.pid))
        barrier.wait()  # every display stays up until all have reported
    finally:
        display.stop()


class Displays(unittest.TestCase):
    def test_sessions_started_together_get_a_display_each(self):
        for _ in range(3):
            barrier, results = multiprocessing.Barrier(SESSIONS), multiprocessing.Queue()
            workers = [multiprocessing.Process(target=start_display, args=(barrier, results))
                       for _ in range(SESSIONS)]
            for worker in workers:
                worker.start()
            started = [results.get(timeout=60) for _ in workers]
            for worker in workers:
                worker.join(30)
            names = [name for name, _ in started]
            self.assertEqual(len(set(names)), SESSIONS, names)
            # Each display is served by the session's own server, not another session's.
            self.assertEqual(len({pid for _, pid in started}), SESSIONS)


# A session whose UI driver is the command of argv[1:] (answers time out in 3 s).
FAILING_SESSION = textwrap.dedent("""
    import subprocess, sys, harness
    harness.UiDriver.call.__kwdefaults__ = {"timeout": 3}
    harness.UiDriver.start = lambda self: setattr(self, "process", subprocess.Popen(
        sys.argv[1:], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True))
    session = harness.WineSession("failing")
    try:
        with session:
            session.driver.answers()  # the prefix starts at the driver's first command
    except harness.DriverError as error:
        print("failed:", str(error).splitlines()[0])
    print("display server", session.xvfb.process.pid, flush=True)
""")


class FailedStart(unittest.TestCase):
    def test_a_session_that_fails_to_start_leaves_nothing_running(self):
        # CTest waits until every process holding a test's output has ended: a wineserver or
        # display left behind by a failed start held it until the test's time-out.
        for driver, failure in ((["sleep", "600"], "UI driver gave no answer"),
                                (["true"], "UI driver ended (exit code 0)")):
            child = subprocess.Popen([sys.executable, "-c", FAILING_SESSION] + driver,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                     cwd=os.path.dirname(os.path.abspath(__file__)))
            out, _ = child.communicate(timeout=120)
            self.assertIn("failed: reg_get: " + failure, out)
            # By its process: a session of another test may take the freed display number.
            server = out.split("display server ")[-1].strip()
            self.assertFalse(os.path.exists("/proc/" + server), "the display of the session is gone")


if __name__ == "__main__":
    unittest.main()
