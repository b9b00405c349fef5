"""Shared helpers for the end-to-end tests: run the built program in a
scratch folder on a chosen date."""

import os
import shutil
import subprocess
import tempfile
import unittest

BIN = os.environ.get("DRAVELKENT_BIN", "")
INI = "Dravelkent.ini"


def faketime_available():
    return shutil.which("faketime") is not None


def program_environment():
    """The environment a run gets: no display, UTC, faketime's file times
    left alone."""
    env = dict(os.environ)
    env["NO_FAKE_STAT"] = "1"
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["TZ"] = env.get("TZ", "UTC")
    # faketime is preloaded ahead of the sanitizer runtime.
    env.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
    return env


class RunResult:
    def __init__(self, proc):
        self.status = proc.returncode
        self.stdout = proc.stdout.decode("utf-8", "replace")
        self.stderr = proc.stderr.decode("utf-8", "replace")


class ProgramTestCase(unittest.TestCase):
    """Each test gets a fresh folder, removed afterwards."""

    def setUp(self):
        if not BIN or not os.path.exists(BIN):
            self.fail("DRAVELKENT_BIN does not name the built program")
        if not faketime_available():
            self.skipTest("faketime is not installed")
        self.dir = tempfile.mkdtemp(prefix="dravelkent-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write_ini(self, text, encoding="utf-8"):
        with open(self.path(INI), "wb") as f:
            f.write(text.encode(encoding))

    def ini_bytes(self):
        with open(self.path(INI), "rb") as f:
            return f.read()

    def ini_text(self, encoding="utf-8"):
        return self.ini_bytes().decode(encoding)

    def run_program(self, date="2026-12-06", stdin=b"", args=(), cwd=None,
                    env_extra=None, prefix=()):
        """Runs the program on |date| (local) and returns a RunResult.
        |prefix| is a command that runs the rest (setpriv, for one)."""
        env = program_environment()
        if env_extra:
            env.update(env_extra)
        cmd = list(prefix) + ["faketime", date + " 12:00:00", BIN]
        cmd += list(args)
        proc = subprocess.run(cmd, cwd=cwd or self.dir, input=stdin,
                              capture_output=True, env=env, timeout=120)
        return RunResult(proc)


def make_file(path, data=b"data", mtime=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mtime is not None:
        os.utime(path, ns=(mtime, mtime))
