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
            raise (AssertionError if os.environ.get("DRAVELKENT_E2E_STRICT")
                   else unittest.SkipTest)("Xvfb and xdotool are needed")
        x = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"],
                             stdout=subprocess.PIPE)
        cls.addClassCleanup(lambda: x.kill() or x.communicate())
        cls.env = dict(os.environ, GDK_BACKEND="x11", NO_AT_BRIDGE="1",
                       GDK_GL="disable",  # no Mesa without a window manager
                       DISPLAY=":" + x.stdout.readline().decode().strip(),
                       WAYLAND_DISPLAY="", LSAN_OPTIONS="detect_leaks=0")

    def windows(self, pid, count, sync=()):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:  # a search takes milliseconds
            shown = run(["xdotool", "search", *sync, "--onlyvisible", "--pid",
                         str(pid), "--name", "."], env=self.env).stdout.split()
            if len(shown) == count:
                return shown
        self.fail("%d windows shown, not %d" % (len(shown), count))

    def drive(self, root, presses):
        """Presses each key in the newest of the windows shown."""
        program = subprocess.Popen([os.environ["DRAVELKENT_BIN"]], cwd=root,
                                   env=self.env, stdin=subprocess.DEVNULL)
        try:  # searches in a row while it starts can crowd out its own
            first = self.windows(program.pid, 1, ["--sync"])[0]
            for count, key in presses:
                shown = self.windows(program.pid, count)
                window = ([w for w in shown if w != first] or shown)[0]
                run(["xdotool", "windowfocus", "--sync", window, "key", key],
                    env=self.env, check=True)
            return program.wait(20)
        finally:
            program.kill()
            program.wait()

    def test_keys_and_exit_status_as_on_the_console(self):
        for basic, presses, runs in [  # presses: (windows shown, key)
                (b"VIEW=On", [(1, "Escape")], False),
                (b"VIEW=On", [(1, "F1"), (2, "Return"), (1, "Escape")], False),
                (b"VIEW=On", [(1, "Return")], True),
                (b"VIEW=On\nMESSAGE=On", [(1, "Return"), (2, "Return")], True),
                (b"VIEW=On\nX=\x82\xa0", [(1, "Escape")], False)]:  # CP932
            status = int(basic.endswith(b"\xa0"))  # a line not UTF-8 fails
            with self.subTest(basic=basic, presses=presses):
                root = tempfile.mkdtemp(prefix="dravelkent-gui-")
                self.addCleanup(shutil.rmtree, root)
                os.mkdir(root + "/src")
                open(root + "/src/data.log", "w").close()
                with open(root + "/Dravelkent.ini", "wb") as f:
                    f.write("\ufeff[基本]\n".encode() + basic + (
                        "\nTIMESTAMP=20000101\n[設定]\n01DIRNAMEFROM=src\n"
                        "01DIRNAMETO=dst\n01FILENAME=data\n01KIND=log\n"
                    ).encode())
                window = self.drive(root, presses)
                with open(root + "/Dravelkent.ini", "rb") as f:
                    kept = b"TIMESTAMP=20000101" in f.read()
                console = run([os.environ["DRAVELKENT_BIN"]], cwd=root,
                              stdin=subprocess.DEVNULL,
                              env=dict(self.env, DISPLAY="")).returncode
                moved = not os.listdir(root + "/src")
                self.assertEqual((window, console, moved, kept),
                                 (status, status, runs, not runs))


if __name__ == "__main__":
    unittest.main()
