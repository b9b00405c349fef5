"""Helpers for the end-to-end tests of the daily rotation and the expiry.

Each test builds a scratch folder with a Dravelkent.ini and the job's folders,
runs the program there under faketime (NO_FAKE_STAT=1, so file times stay
real) and looks at what is left.
"""

import os
import shutil
import subprocess
import tempfile
import unittest

BIN = os.environ.get("DRAVELKENT_BIN", "")

# A fixed mtime (nanoseconds) for files whose age matters.
MTIME = 1_760_000_000_123_456_789


def write_ini(folder, basic, job, hidden=None):
    """Writes Dravelkent.ini with one job (number 01)."""
    lines = ["[基本]"] + [f"{k}={v}" for k, v in basic.items()]
    lines += ["[設定]"] + [f"01{k}={v}" for k, v in job.items()]
    if hidden:
        lines += ["[裏設定]"] + [f"01{k}={v}" for k, v in hidden.items()]
    with open(os.path.join(folder, "Dravelkent.ini"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def read_key(folder, key):
    """Returns the first value of |key| in the folder's Dravelkent.ini."""
    with open(os.path.join(folder, "Dravelkent.ini"), encoding="utf-8") as f:
        for line in f:
            name, sep, value = line.strip().partition("=")
            if sep and name.strip() == key:
                return value.strip()
    return None


def run(folder, when):
    """Runs the program in |folder| with the clock at |when|."""
    env = dict(os.environ, NO_FAKE_STAT="1")
    # faketime preloads its library ahead of a sanitizer build's runtime.
    env["ASAN_OPTIONS"] = ":".join(
        filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    return subprocess.run(["faketime", when, BIN], cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=120)


def write_file(path, data, mtime_ns=None):
    with open(path, "w", encoding="utf-8") as f:
        f.write(data)
    if mtime_ns is not None:
        os.utime(path, ns=(mtime_ns, mtime_ns))


def read_file(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class Scratch:
    """A scratch folder that goes away with everything in it."""

    def __init__(self, parent=None):
        self.path = tempfile.mkdtemp(prefix="dravelkent-e2e-", dir=parent)

    def join(self, *names):
        return os.path.join(self.path, *names)

    def close(self):
        shutil.rmtree(self.path, ignore_errors=True)


_missing = {}


def _probe(feature):
    scratch = Scratch()
    try:
        if feature == "settings":
            result = run(scratch.path, "2026-12-06 10:00:00")
            if result.returncode != 0:
                raise RuntimeError(f"a first run failed ({result.returncode}): "
                                   f"{result.stderr}")
            ini = scratch.join("Dravelkent.ini")
            if not os.path.exists(ini) or read_key(scratch.path, "01FILENAME") is None:
                return ("the settings store is not in this build: a first run "
                        "writes no Dravelkent.ini template")
            return None
        os.mkdir(scratch.join("src"))
        write_file(scratch.join("src", "app.log"), "probe")
        write_ini(scratch.path,
                  {"BACKUP": "On" if feature == "copy" else "Off",
                   "TIMESTAMP": "00000000"},
                  {"DIRNAMEFROM": scratch.join("src"),
                   "DIRNAMETO": scratch.join("dst"), "FILENAME": "app",
                   "KIND": "log", "DELETEDAY": "0"})
        result = run(scratch.path, "2026-12-06 10:00:00")
        if "Function not implemented" in result.stderr:
            return (f"the file layer's {feature} is not in this build "
                    f"(it fails with ENOSYS)")
        return None
    finally:
        scratch.close()


def missing(feature):
    """Returns why |feature| ("settings", "copy" or "move") cannot be tested
    with this build, or None when it can."""
    if not BIN:
        raise RuntimeError("DRAVELKENT_BIN must name the program to test")
    if feature != "settings" and missing("settings"):
        return missing("settings")
    if feature not in _missing:
        _missing[feature] = _probe(feature)
    return _missing[feature]


class RotationTestCase(unittest.TestCase):
    """A scratch folder with src/ and dst/ and job 01 over them."""

    # What the tests of the class need: "settings", "copy", "move".
    needs = ("settings",)

    def setUp(self):
        for feature in self.needs:
            self.require(feature)
        self.scratch = Scratch()
        self.addCleanup(self.scratch.close)
        self.src = self.scratch.join("src")
        self.dst = self.scratch.join("dst")
        os.mkdir(self.src)
        os.mkdir(self.dst)

    def require(self, feature):
        """Skips the test when the build lacks |feature|."""
        reason = missing(feature)
        if reason:
            self.skipTest(reason)

    def configure(self, timestamp, backup="Off", message="Off", hidden=None,
                  **job):
        keys = {"DIRNAMEFROM": self.src, "DIRNAMETO": self.dst,
                "FILENAME": "app", "KIND": "log", "DELETEDAY": "7"}
        keys.update(job)
        write_ini(self.scratch.path,
                  {"BACKUP": backup, "MESSAGE": message, "TIMESTAMP": timestamp},
                  keys, hidden)

    def run_on(self, when):
        return run(self.scratch.path, when)

    def listing(self, folder=None):
        return sorted(os.listdir(folder or self.dst))
