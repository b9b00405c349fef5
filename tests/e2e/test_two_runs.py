"""Two runs started together in one folder (cron and a person, or two
timers): one does the day's work, the other waits for it and then finds the
day done."""

import os
import shutil
import subprocess
import sys
import unittest

from e2e_support import BIN, program_environment
from rotation_support import MTIME, RotationTestCase, read_file, write_file

TODAY = "2026-12-06"
PAIRS = 15

# Runs in each child: says it is ready, waits for the word to go, then
# becomes the program. Both children are thus released by one write.
GATE = (
    "import os, sys\n"
    "go, ready = int(sys.argv[1]), int(sys.argv[2])\n"
    "os.write(ready, b'r')\n"
    "os.read(go, 1)\n"
    "os.close(go)\n"
    "os.close(ready)\n"
    "os.execvp(sys.argv[3], sys.argv[3:])\n"
)


class TwoRunsTest(RotationTestCase):

    def start_together(self, count=2):
        """Starts |count| runs of the program that begin at one moment and
        returns their (status, stdout, stderr)."""
        env = program_environment()
        go_r, go_w = os.pipe()
        ready_r, ready_w = os.pipe()
        procs = []
        try:
            for _ in range(count):
                cmd = [sys.executable, "-c", GATE, str(go_r), str(ready_w),
                       "faketime", TODAY + " 12:00:00", BIN]
                procs.append(subprocess.Popen(
                    cmd, cwd=self.dir, env=env, pass_fds=(go_r, ready_w),
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE))
        finally:
            os.close(go_r)
            os.close(ready_w)
        ready = b""
        while len(ready) < count:
            got = os.read(ready_r, count)
            if not got:
                break  # a child died before it was ready
            ready += got
        os.close(ready_r)
        os.write(go_w, b"g" * count)
        os.close(go_w)
        results = []
        for proc in procs:
            out, err = proc.communicate(timeout=120)
            results.append((proc.returncode, out.decode("utf-8", "replace"),
                            err.decode("utf-8", "replace")))
        return results

    def test_the_file_moves_once_and_both_runs_succeed(self):
        cases = [
            # (VIEW line or None, KIND, what the target holds afterwards)
            ("VIEW=Off", "log", ["20261205app.log"]),
            # Both runs write VIEW first; that save must not undo the other
            # run's TIMESTAMP.
            (None, "log", ["20261205app.log"]),
            ("VIEW=Off", "*", ["20261206app.log", "20261206sub"]),
        ]
        for view, kind, expected in cases:
            for pair in range(PAIRS):
                with self.subTest(view=view, kind=kind, pair=pair):
                    shutil.rmtree(self.dst)
                    os.mkdir(self.dst)
                    write_file(os.path.join(self.src, "app.log"), "data",
                               MTIME)
                    if kind == "*":
                        write_file(os.path.join(self.src, "sub", "b.log"), "b")
                    self.configure("20261205", KIND=kind, FILENAME="app")
                    if view:
                        self.write_ini(self.ini_text().replace(
                            "[基本]\n", "[基本]\n" + view + "\n"))
                    results = self.start_together()
                    for status, _, err in results:
                        self.assertEqual((status, err), (0, ""))
                    self.assertEqual(self.listing(), expected)
                    self.assertEqual(os.listdir(self.src),
                                     ["sub"] if kind == "*" else [])
                    moved = os.path.join(self.dst, expected[0])
                    self.assertEqual(read_file(moved), "data")
                    self.assertEqual(os.stat(moved).st_mtime_ns, MTIME)
                    self.assertEqual(self.timestamp(), "20261206")
                    self.assertIn("VIEW=Off", self.ini_text())

    def test_copies_side_by_side_keep_one_whole_copy(self):
        for pair in range(PAIRS):
            with self.subTest(pair=pair):
                copy = os.path.join(self.dst, "20261205app.log")
                if os.path.exists(copy):
                    os.remove(copy)
                write_file(os.path.join(self.src, "app.log"), "data" * 50000,
                           MTIME)
                self.configure("20261205", backup="On")
                results = self.start_together()
                for status, _, err in results:
                    self.assertEqual((status, err), (0, ""))
                self.assertEqual(self.listing(), ["20261205app.log"])
                self.assertEqual(read_file(copy), "data" * 50000)
                self.assertEqual(self.timestamp(), "20261206")


if __name__ == "__main__":
    unittest.main()
