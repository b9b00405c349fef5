"""The window, under a private Xvfb, driven with xdotool."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=20, **kwargs)


class WindowTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        if not (shutil.which("Xvfb") and shutil.which("xdotool")):
            if os.environ.get("DRAVELKENT_E2E_STRICT"):
                raise AssertionError("Xvfb and xdotool are needed")
            raise unittest.SkipTest("Xvfb and xdotool are needed")
        x = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"],
                             stdout=subprocess.PIPE)
        cls.addClassCleanup(x.communicate)
        cls.addClassCleanup(x.kill)
        cls.env = dict(os.environ, GDK_BACKEND="x11", NO_AT_BRIDGE="1",
                       GDK_GL="disable",  # no Mesa without a window manager
                       DISPLAY=":" + x.stdout.readline().decode().strip(),
                       WAYLAND_DISPLAY="", LSAN_OPTIONS="detect_leaks=0")

    def windows(self, pid, count, sync=()):
        """Waits for the program to show |count| windows; returns them."""
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:  # a search takes milliseconds
            shown = run(["xdotool", "search", *sync, "--onlyvisible", "--pid",
                         str(pid), "--name", "."], env=self.env).stdout.split()
            if len(shown) == count:
                return shown
        self.fail("%d windows shown, not %d" % (len(shown), count))

    def drive(self, basic, presses, head=b""):
        """Runs a job from a fresh folder; for each (windows shown, key)
        presses the key in the newest window. Returns the exit status and
        the folder."""
        root = tempfile.mkdtemp(prefix="dravelkent-gui-")
        self.addCleanup(shutil.rmtree, root)
        os.mkdir(os.path.join(root, "src"))
        open(os.path.join(root, "src", "data.log"), "w").close()
        with open(os.path.join(root, "Dravelkent.ini"), "wb") as f:
            f.write(head + ("[基本]\n%s\nTIMESTAMP=20000101\n[設定]\n"
                            "01DIRNAMEFROM=src\n01DIRNAMETO=dst\n"
                            "01FILENAME=data\n01KIND=log\n" % basic).encode())
        program = subprocess.Popen([os.environ["DRAVELKENT_BIN"]], cwd=root,
                                   env=self.env, stdin=subprocess.DEVNULL)
        try:
            # Searches in a row while it starts could crowd out its
            # connection to the server: one search waits for the first.
            first = self.windows(program.pid, 1, ["--sync"])[0]
            for count, key in presses:
                shown = self.windows(program.pid, count)
                window = ([w for w in shown if w != first] or shown)[0]
                run(["xdotool", "windowfocus", "--sync", window, "key", key],
                    env=self.env, check=True)
            return program.wait(20), root
        finally:
            program.kill()
            program.wait()

    def test_keys(self):
        view, both = "VIEW=On", "VIEW=On\nMESSAGE=On"
        cases = [  # settings, presses, whether the job runs
            (view, [(1, "Escape")], False),
            (view, [(1, "F1"), (2, "Return"), (1, "Escape")], False),
            (view, [(1, "Return")], True),
            (both, [(1, "Return"), (2, "Return")], True),  # one message
            ("MESSAGE=On", [(1, "Return")], True),  # only the message
        ]
        for basic, presses, runs in cases:
            with self.subTest(basic=basic, presses=presses):
                status, root = self.drive(basic, presses)
                with open(os.path.join(root, "Dravelkent.ini")) as f:
                    kept = "TIMESTAMP=20000101" in f.read()
                moved = os.listdir(os.path.join(root, "src")) == []
                self.assertEqual((status, moved, kept), (0, runs, not runs))

    def test_undecodable_line_fails_as_on_the_console(self):
        bad = b"\xef\xbb\xbf\x82\xa0\n"  # Shift-JIS in a UTF-8 file
        status, root = self.drive("VIEW=On", [(1, "Escape")], bad)
        console = run([os.environ["DRAVELKENT_BIN"]], cwd=root,
                      env=dict(self.env, DISPLAY=""), stdin=subprocess.DEVNULL)
        self.assertEqual((status, console.returncode), (1, 1))


if __name__ == "__main__":
    unittest.main()
