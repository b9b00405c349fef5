"""Settings files the program cannot use as they are: a folder, a file it
may not read, binary garbage, a huge file. Each run says so once, does not
crash, and never loses what the file held."""

import os
import random
import time
import unittest

from e2e_support import INI, ProgramTestCase


def cp932_settings(folder):
    """Settings of one job from |folder|/表計算 to |folder|/予定表."""
    return ("[基本]\r\nTIMESTAMP=20200101\r\n[設定]\r\n"
            f"01DIRNAMEFROM={folder}/表計算\r\n01DIRNAMETO={folder}/予定表\r\n"
            "01FILENAME=売上\r\n01KIND=csv\r\n01DELETEDAY=7\r\n")


class HostileSettingsTest(ProgramTestCase):
    def assert_said_once(self, result, *parts):
        # A run whose date cannot be recorded also says that it left the
        # files alone, naming the same cause.
        lines = [line for line in result.stderr.splitlines()
                 if "could not be recorded" not in line]
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("dravelkent: "), lines[0])
        for part in parts:
            self.assertIn(part, lines[0])

    def test_a_settings_file_that_cannot_be_opened_is_left_alone(self):
        def folder():
            os.mkdir(self.path(INI))
            with open(self.path(INI, "mine.txt"), "wb") as f:
                f.write(b"kept")

        def link_loop():
            os.symlink(INI, self.path(INI))

        def fifo():
            os.mkfifo(self.path(INI))

        cases = [
            # (name, make it, words of the one message)
            ("folder", folder, ["cannot read", "Is a directory"]),
            ("link to itself", link_loop, ["symbolic links"]),
            ("fifo", fifo, ["cannot read"]),
        ]
        for name, make, words in cases:
            with self.subTest(name):
                before = sorted(os.listdir(self.dir))
                make()
                result = self.run_program()
                self.assertEqual(result.status, 1)
                self.assertEqual(result.stdout, "")
                if name == "link to itself":
                    # Reading and the save's link lookup each say it once.
                    self.assertEqual(len(result.stderr.splitlines()), 3,
                                     result.stderr)
                    self.assertIn(self.path(INI), result.stderr)
                    self.assertIn("symbolic links", result.stderr)
                else:
                    self.assert_said_once(result, self.path(INI), *words)
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 sorted(before + [INI]))
                if name == "folder":
                    self.assertEqual(os.listdir(self.path(INI)), ["mine.txt"])
                    os.remove(self.path(INI, "mine.txt"))
                    os.rmdir(self.path(INI))
                else:
                    os.remove(self.path(INI))

    def test_a_settings_file_without_read_permission_is_left_alone(self):
        if os.geteuid() == 0:
            self.skipTest("root reads files without read permission")
        settings = cp932_settings(self.dir)
        self.write_ini(settings, encoding="cp932")
        os.chmod(self.path(INI), 0o200)
        self.addCleanup(os.chmod, self.path(INI), 0o600)
        result = self.run_program()
        self.assertEqual(result.status, 1)
        self.assert_said_once(result, self.path(INI), "Permission denied")
        os.chmod(self.path(INI), 0o600)
        self.assertEqual(self.ini_bytes(), settings.encode("cp932"))
        self.assertEqual(os.listdir(self.dir), [INI])

    def test_binary_garbage_is_named_and_kept_and_gets_no_sections(self):
        garbage = random.Random(6).randbytes(200_000)
        with open(self.path(INI), "wb") as f:
            f.write(garbage)
        for date in ("2026-12-06", "2026-12-07"):
            result = self.run_program(date=date)
            self.assertEqual(result.status, 1)
            lines = result.stderr.splitlines()
            self.assertIn("not valid CP932", lines[0])
            self.assertIn("(the first is line 1)", lines[0])
            # Any of those lines may be a section the program would add, so
            # none is added.
            self.assertIn("so none is added", result.stderr)
            self.assertEqual(self.ini_bytes(), garbage)

    def test_a_huge_settings_file_is_read_and_kept(self):
        # About 30 MB of Japanese comments ahead of the keys, so that every
        # read has to go through the whole file.
        comment = "; 毎日のログ整理の設定です。表示・予定・ソフト\r\n"
        text = "[メモ]\r\n" + comment * 640_000 + cp932_settings(self.dir)
        before = text.encode("cp932")
        self.assertGreater(len(before), 30_000_000)
        with open(self.path(INI), "wb") as f:
            f.write(before)
        os.mkdir(self.path("表計算"))
        with open(self.path("表計算", "売上.csv"), "wb") as f:
            f.write(b"1,2,3\n")
        started = time.monotonic()
        result = self.run_program()
        elapsed = time.monotonic() - started
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        expected = before.replace(
            b"TIMESTAMP=20200101\r\n",
            b"TIMESTAMP=20261206\r\nVIEW=Off\r\nMESSAGE=Off\r\n")
        self.assertEqual(self.ini_bytes(), expected)
        with open(self.path("予定表", "20200101売上.csv"), "rb") as f:
            self.assertEqual(f.read(), b"1,2,3\n")
        # Generous: a plain build takes a few seconds, a sanitizer build
        # several times that; only something far slower is a fault.
        self.assertLess(elapsed, 120)


if __name__ == "__main__":
    unittest.main()
