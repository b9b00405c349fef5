"""End to end: the daily rotation of a job's file, in move and copy mode."""

import os
import shutil
import stat
import tempfile
import unittest

from rotation_support import MTIME, RotationTestCase, read_file, write_file

TODAY = "2026-12-06"


class NotDueTest(RotationTestCase):

    def test_no_rotation_on_a_first_run_the_same_day_or_a_short_timestamp(self):
        for timestamp in ("", "20261206", "12345"):
            with self.subTest(timestamp=timestamp):
                write_file(os.path.join(self.src, "app.log"), "new")
                self.configure(timestamp)
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, 0, result.stderr)
                self.assertEqual(self.listing(), [])
                self.assertEqual(read_file(os.path.join(self.src, "app.log")), "new")
                self.assertEqual(self.timestamp(), "20261206")


class MoveTest(RotationTestCase):

    def test_the_dated_name_follows_timestamp_and_retention(self):
        cases = [
            ("20261205", "7", "20261205app.log", "20261206"),
            ("20261205", "0", "20261206app.log", "20261206"),
            ("00000000", "7", "00000000app.log", "00000000"),
            ("00000000", "0", "20261206app.log", "00000000"),
            ("20261205xyz", "7", "20261205xyzapp.log", "20261206"),
        ]
        for timestamp, days, name, timestamp_after in cases:
            with self.subTest(timestamp=timestamp, days=days):
                write_file(os.path.join(self.src, "app.log"), "new", MTIME)
                self.configure(timestamp, DELETEDAY=days)
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, 0, result.stderr)
                self.assertEqual(self.listing(), [name])
                moved = os.path.join(self.dst, name)
                self.assertEqual(read_file(moved), "new")
                self.assertEqual(os.stat(moved).st_mtime_ns, MTIME)
                self.assertEqual(os.listdir(self.src), [])
                self.assertEqual(self.timestamp(),
                                 timestamp_after)
                os.remove(moved)

    def test_a_move_never_replaces_a_dated_copy(self):
        for message in ("On", "Off"):
            with self.subTest(message=message):
                source = os.path.join(self.src, "app.log")
                copy = os.path.join(self.dst, "20261205app.log")
                write_file(source, "new")
                write_file(copy, "old")
                self.configure("20261205", message=message)
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, 1)
                self.assertIn(source, result.stderr)
                self.assertEqual(read_file(source), "new")
                self.assertEqual(read_file(copy), "old")
                failed = f"{source}の処理に失敗しました"
                self.assertEqual(failed in result.stdout, message == "On")

    def test_a_missing_source_is_reported(self):
        for backup in ("Off", "On"):
            with self.subTest(backup=backup):
                self.configure("20261205", backup=backup, message="On")
                result = self.run_program(date=TODAY)
                source = os.path.join(self.src, "app.log")
                self.assertEqual(result.status, 1)
                self.assertIn(source, result.stderr)
                self.assertIn(f"{source}の処理に失敗しました", result.stdout)
                self.assertIn("完了しました。", result.stdout)
                self.assertEqual(self.listing(), [])

    def test_a_move_across_file_systems_keeps_everything(self):
        if not os.path.isdir("/dev/shm") or \
                os.stat("/dev/shm").st_dev == os.stat(self.dst).st_dev:
            self.skipTest("no second file system at /dev/shm")
        self.src = tempfile.mkdtemp(prefix="dravelkent-e2e-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, self.src, True)
        source = os.path.join(self.src, "app.log")
        write_file(source, "new" * 100000, MTIME)
        os.chmod(source, 0o640)
        write_file(os.path.join(self.dst, "20261204app.log"), "old")
        for timestamp, result_code in (("20261204", 1), ("20261205", 0)):
            with self.subTest(timestamp=timestamp):
                self.configure(timestamp)
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, result_code, result.stderr)
        self.assertEqual(read_file(os.path.join(self.dst, "20261204app.log")), "old")
        moved = os.path.join(self.dst, "20261205app.log")
        self.assertEqual(read_file(moved), "new" * 100000)
        self.assertEqual(os.stat(moved).st_mtime_ns, MTIME)
        self.assertEqual(stat.S_IMODE(os.stat(moved).st_mode), 0o640)
        self.assertFalse(os.path.exists(source))
        self.assertEqual(self.listing(), ["20261204app.log", "20261205app.log"])

    def test_a_link_is_moved_as_a_link(self):
        data = os.path.join(self.src, "data")
        write_file(data, "data")
        os.symlink(data, os.path.join(self.src, "app.log"))
        self.configure("20261205")
        result = self.run_program(date=TODAY)
        self.assertEqual(result.status, 0, result.stderr)
        moved = os.path.join(self.dst, "20261205app.log")
        self.assertTrue(os.path.islink(moved))
        self.assertEqual(os.readlink(moved), data)
        self.assertEqual(read_file(data), "data")


class CopyTest(RotationTestCase):

    def test_copies_only_when_newer_than_the_last_run_name(self):
        cases = [  # source mtime against the last-run copy, copied
            ("newer", MTIME + 1, True),
            ("equal", MTIME, False),
            ("older", MTIME - 1, False),
        ]
        for what, source_mtime, copied in cases:
            with self.subTest(what):
                source = os.path.join(self.src, "app.log")
                copy = os.path.join(self.dst, "20261205app.log")
                write_file(source, "new", source_mtime)
                write_file(copy, "old", MTIME)
                self.configure("20261205", backup="On")
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, 0, result.stderr)
                self.assertEqual(read_file(copy), "new" if copied else "old")
                self.assertEqual(os.stat(copy).st_mtime_ns,
                                 source_mtime if copied else MTIME)
                self.assertEqual(read_file(source), "new")

    def test_without_retention_an_unchanged_file_is_not_copied_again(self):
        source = os.path.join(self.src, "app.log")
        write_file(source, "new", MTIME)
        self.configure("20261204", backup="On", DELETEDAY="0")
        self.assertEqual(self.run_program(date="2026-12-05").status, 0)
        self.assertEqual(self.listing(), ["20261205app.log"])
        # The next day compares with that copy: unchanged, nothing is written.
        self.assertEqual(self.run_program(date=TODAY).status, 0)
        self.assertEqual(self.listing(), ["20261205app.log"])
        self.assertEqual(self.timestamp(), "20261206")
        # Changed, it is copied under today's name.
        write_file(source, "newer", MTIME + 10)
        self.configure("20261205", backup="On", DELETEDAY="0")
        self.assertEqual(self.run_program(date=TODAY).status, 0)
        self.assertEqual(self.listing(), ["20261205app.log", "20261206app.log"])
        self.assertEqual(read_file(os.path.join(self.dst, "20261206app.log")),
                         "newer")

    def test_a_link_is_copied_as_the_file_it_leads_to(self):
        data = os.path.join(self.src, "data")
        write_file(data, "data", MTIME)
        os.symlink(data, os.path.join(self.src, "app.log"))
        self.configure("20261205", backup="On")
        result = self.run_program(date=TODAY)
        self.assertEqual(result.status, 0, result.stderr)
        copy = os.path.join(self.dst, "20261205app.log")
        self.assertFalse(os.path.islink(copy))
        self.assertEqual(read_file(copy), "data")
        self.assertEqual(os.stat(copy).st_mtime_ns, MTIME)


class WildcardTest(RotationTestCase):

    def test_a_wildcard_job_transfers_the_tree_instead(self):
        write_file(os.path.join(self.src, "a.txt"), "a")
        os.mkdir(os.path.join(self.src, "sub"))
        write_file(os.path.join(self.src, "sub", "b.txt"), "b")
        self.configure("20261205", FILENAME="*", KIND="log", DELETEDAY="0")
        result = self.run_program(date=TODAY)
        # No single file "*.log" is looked for.
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.listing(), ["a.txt", "sub"])
        self.assertEqual(read_file(os.path.join(self.dst, "sub", "b.txt")), "b")
        self.assertEqual(self.listing(self.src), ["sub"])


if __name__ == "__main__":
    unittest.main()
