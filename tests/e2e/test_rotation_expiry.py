"""End to end: the expiry of dated copies after a job's rotation.

The job runs in copy mode over a source that is not newer than its last-run
copy, so the rotation writes nothing and only the expiry changes the target.
"""

import os
import subprocess
import unittest

from rotation_support import MTIME, RotationTestCase, write_file

TODAY = "2026-12-08"


class ExpiryTest(RotationTestCase):

    def prepare(self, timestamp, names, folders=()):
        write_file(os.path.join(self.src, "app.log"), "data", MTIME)
        write_file(os.path.join(self.dst, timestamp + "app.log"), "data", MTIME)
        for name in names:
            write_file(os.path.join(self.dst, name), name)
        for name in folders:
            os.mkdir(os.path.join(self.dst, name))

    def test_deletes_the_copies_whose_date_plus_retention_is_past(self):
        cases = [  # name, deleted (today 20261208, 7 days)
            ("20261130app.log", True),     # expired on 20261207
            ("20261201app.log", False),    # expires today
            ("20150101app.log", True),     # dated after 2010
            ("19991231app.log", True),
            ("20261130web.log", False),    # another base name
            ("20261130application.log", False),  # another job's
            ("20261130App.log", False),    # case counts
            ("20261130app.txt", False),    # another extension
            ("2026113.log", False),        # 11 bytes
            ("20991231app.log", False),
            ("29000101app.log", False),    # no plausible date
            ("20260099app.log", True),     # 20260309
            ("20261399app.log", False),    # 20270408
            ("notes.txt", False),
        ]
        self.prepare("20261207", [name for name, _ in cases],
                     folders=["20150102app.log"])
        self.configure("20261207", backup="On")
        result = self.run_program(date=TODAY)
        self.assertEqual(result.status, 0, result.stderr)
        kept = sorted([name for name, deleted in cases if not deleted] +
                      ["20150102app.log", "20261207app.log"])
        self.assertEqual(self.listing(), kept)

    def test_delete_all_runs_only_when_the_expiry_does(self):
        names = ["20261130app.log", "20261207app.log", "20991231app.log",
                 "29000101app.log", "20261130web.log"]
        cases = [  # TIMESTAMP, retention days, kept
            ("20261207", "0", names + ["20261207app.log"]),  # expiry not due
            ("20261207", "7", ["20261130web.log", "29000101app.log"]),
            ("00000000", "0", ["00000000app.log", "20261130web.log",
                               "29000101app.log"]),
            ("20261208", "7", names + ["20261208app.log"]),  # second run
        ]
        for timestamp, days, kept in cases:
            with self.subTest(timestamp=timestamp, days=days):
                for name in os.listdir(self.dst):
                    os.remove(os.path.join(self.dst, name))
                self.prepare(timestamp, names)
                self.configure(timestamp, backup="On", DELETEDAY=days,
                               hidden={"DELETEALL": "On"})
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, 0, result.stderr)
                self.assertEqual(self.listing(), sorted(set(kept)))

    def test_a_second_run_the_same_day_deletes_nothing(self):
        self.prepare("20261207", ["20261101app.log"])
        self.configure("20261208", backup="On")
        result = self.run_program(date=TODAY)
        self.assertEqual(result.status, 0, result.stderr)
        self.assertIn("20261101app.log", self.listing())

    def test_a_failed_removal_is_reported(self):
        stuck = os.path.join(self.dst, "20261101app.log")
        self.prepare("20261207", ["20261101app.log", "20261102app.log"])
        if os.geteuid() == 0:
            # Root removes files from any folder; only an immutable file stays.
            made = subprocess.run(["chattr", "+i", stuck], capture_output=True)
            if made.returncode != 0:
                self.skipTest("cannot make a file that root cannot remove")
            self.addCleanup(subprocess.run, ["chattr", "-i", stuck])
        else:
            os.chmod(self.dst, 0o555)
            self.addCleanup(os.chmod, self.dst, 0o755)
        self.configure("20261207", backup="On")
        result = self.run_program(date=TODAY)
        self.assertEqual(result.status, 1)
        self.assertIn(stuck, result.stderr)
        self.assertTrue(os.path.exists(stuck))


if __name__ == "__main__":
    unittest.main()
