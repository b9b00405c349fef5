"""Full disks: copies and moves that do not fit fail whole and are said, and
a settings file on a full disk keeps its old bytes. The target is a 1 MiB
tmpfs mounted in a private mount namespace of this test; where mounting is
not allowed the tests skip themselves."""

import ctypes
import errno
import os
import unittest

from rotation_support import MTIME, RotationTestCase, ini_lines

TODAY = "2026-12-06"
OLD_MTIME = 1_600_000_000_000_000_000
BIG = 2 * 1024 * 1024

CLONE_NEWNS = 0x00020000
MS_REC = 16384
MS_PRIVATE = 1 << 18
MNT_DETACH = 2

_libc = ctypes.CDLL(None, use_errno=True)
_namespace_error = None


def _enter_private_mount_namespace():
    """Gives this process mounts of its own. Returns None or why not."""
    if _libc.unshare(CLONE_NEWNS) != 0:
        return os.strerror(ctypes.get_errno())
    if _libc.mount(b"none", b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        return os.strerror(ctypes.get_errno())
    return None


def setUpModule():
    global _namespace_error
    _namespace_error = _enter_private_mount_namespace()


def write_bytes(path, data, mtime_ns=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mtime_ns is not None:
        os.utime(path, ns=(mtime_ns, mtime_ns))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def tree(folder):
    """Every file below |folder|, relative, with its bytes."""
    found = {}
    for top, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(top, name)
            found[os.path.relpath(path, folder)] = read_bytes(path)
    return found


def fill(folder):
    """Writes a file into |folder| until its file system is full."""
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT)
    try:
        while True:
            os.write(fd, b"\0" * 4096)
    except OSError as error:
        if error.errno != errno.ENOSPC:
            raise
    finally:
        os.close(fd)


class FullDiskTest(RotationTestCase):

    def setUp(self):
        super().setUp()
        if _namespace_error is not None:
            self.skipTest("cannot have mounts of our own: " + _namespace_error)

    def mount_small(self, folder):
        os.makedirs(folder, exist_ok=True)
        if _libc.mount(b"tmpfs", folder.encode(), b"tmpfs", 0,
                       b"size=1m") != 0:
            self.skipTest("cannot mount a tmpfs: " +
                          os.strerror(ctypes.get_errno()))
        self.addCleanup(_libc.umount2, folder.encode(), MNT_DETACH)

    def test_what_does_not_fit_fails_whole_and_is_said(self):
        big = os.urandom(BIG)
        cases = [
            # (BACKUP, FILENAME, KIND, DELETEDAY, target before, target after)
            ("Off", "app", "log", "7", {"20261201app.log": b"older"},
             {"20261201app.log": b"older"}),
            ("On", "app", "log", "7", {"20261205app.log": b"last copy"},
             {"20261205app.log": b"last copy"}),
            ("On", "app", "log", "0", {}, {}),
            ("Off", "*", "*", "0", {"keep.txt": b"keep"},
             {"keep.txt": b"keep", "small.txt": b"small",
              "sub/small.txt": b"sub"}),
            ("On", "*", "*", "7", {},
             {"20261206small.txt": b"small",
              "20261206sub/20261206small.txt": b"sub"}),
        ]
        for number, (backup, name, kind, days, before, after) in enumerate(
                cases):
            with self.subTest(backup=backup, name=name, days=days):
                self.src = self.path(f"src{number}")
                self.dst = self.path(f"small{number}")
                os.mkdir(self.src)
                self.mount_small(self.dst)
                for rel, data in before.items():
                    write_bytes(os.path.join(self.dst, rel), data, OLD_MTIME)
                big_name = "app.log" if kind == "log" else "big.bin"
                big_path = os.path.join(self.src, big_name)
                write_bytes(big_path, big, MTIME)
                if kind == "*":
                    write_bytes(os.path.join(self.src, "small.txt"), b"small")
                    write_bytes(os.path.join(self.src, "sub", "small.txt"),
                                b"sub")
                self.configure("20261205", backup=backup, FILENAME=name,
                               KIND=kind, DELETEDAY=days)
                result = self.run_program(date=TODAY)
                self.assertEqual(result.status, 1, result.stderr)
                self.assertIn(big_path, result.stderr)
                self.assertIn("No space left on device", result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1,
                                 result.stderr)
                self.assertEqual(read_bytes(big_path), big)
                self.assertEqual(os.stat(big_path).st_mtime_ns, MTIME)
                # Nothing half-written, no temporary file.
                self.assertEqual(tree(self.dst), after)
                for rel in before:
                    self.assertEqual(
                        os.stat(os.path.join(self.dst, rel)).st_mtime_ns,
                        OLD_MTIME)
                self.assertEqual(self.timestamp(), "20261206")

    def test_a_settings_file_on_a_full_disk_keeps_its_old_bytes(self):
        home = self.path("home")
        self.mount_small(home)
        write_bytes(os.path.join(self.src, "app.log"), b"data", MTIME)
        # MESSAGE is missing: it is written at the start, as TIMESTAMP is at
        # the end; neither can be.
        text = ini_lines({"TIMESTAMP": "20261205", "VIEW": "Off"},
                         {"DIRNAMEFROM": self.src, "DIRNAMETO": self.dst,
                          "FILENAME": "app", "KIND": "log",
                          "DELETEDAY": "7"})
        for encoding in ("utf-8", "cp932"):
            with self.subTest(encoding=encoding):
                ini = os.path.join(home, "Dravelkent.ini")
                old = text.encode(encoding)
                write_bytes(ini, old)
                fill(home)
                result = self.run_program(date=TODAY, cwd=home)
                self.assertEqual(result.status, 1, result.stderr)
                self.assertIn(ini, result.stderr)
                self.assertIn("No space left on device", result.stderr)
                self.assertEqual(read_bytes(ini), old)
                self.assertEqual(sorted(os.listdir(home)),
                                 ["Dravelkent.ini", "filler"])
                os.remove(os.path.join(home, "filler"))
                # The day's work was done; only its date could not be kept.
                self.assertEqual(self.listing(), ["20261205app.log"])
                os.rename(os.path.join(self.dst, "20261205app.log"),
                          os.path.join(self.src, "app.log"))


if __name__ == "__main__":
    unittest.main()
