"""Helpers for the end-to-end tests of the daily rotation and the expiry.

Each test writes a Dravelkent.ini with one job over the folders src/ and
dst/ of its scratch folder, runs the program on a chosen date and looks at
what is left.
"""

import os

from e2e_support import ProgramTestCase, make_file

# A fixed mtime (nanoseconds) for files whose age matters.
MTIME = 1_760_000_000_123_456_789


def write_file(path, text, mtime_ns=None):
    make_file(path, text.encode("utf-8"), mtime_ns)


def read_file(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def ini_lines(basic, job, hidden=None):
    """Returns the text of a Dravelkent.ini with one job (number 01)."""
    lines = ["[基本]"] + [f"{k}={v}" for k, v in basic.items()]
    lines += ["[設定]"] + [f"01{k}={v}" for k, v in job.items()]
    if hidden:
        lines += ["[裏設定]"] + [f"01{k}={v}" for k, v in hidden.items()]
    return "\n".join(lines) + "\n"


class RotationTestCase(ProgramTestCase):
    """A scratch folder with src/ and dst/ and job 01 over them."""

    def setUp(self):
        super().setUp()
        self.src = self.path("src")
        self.dst = self.path("dst")
        os.mkdir(self.src)
        os.mkdir(self.dst)

    def configure(self, timestamp, backup="Off", message="Off", hidden=None,
                  **job):
        keys = {"DIRNAMEFROM": self.src, "DIRNAMETO": self.dst,
                "FILENAME": "app", "KIND": "log", "DELETEDAY": "7"}
        keys.update(job)
        self.write_ini(ini_lines(
            {"BACKUP": backup, "MESSAGE": message, "TIMESTAMP": timestamp},
            keys, hidden))

    def timestamp(self):
        """Returns the TIMESTAMP value the settings file holds."""
        for line in self.ini_text().splitlines():
            key, sep, value = line.partition("=")
            if sep and key == "TIMESTAMP":
                return value
        return None

    def listing(self, folder=None):
        return sorted(os.listdir(folder or self.dst))
