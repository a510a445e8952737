"""The harness itself: sessions that start at the same moment (as those of test runs side by
side on one machine do) each get an X display of their own."""

import multiprocessing
import os
import sys
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


if __name__ == "__main__":
    unittest.main()
