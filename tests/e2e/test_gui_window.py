"""The window, under a private Xvfb with openbox, driven with xdotool."""

import ctypes
import fcntl
import os
import shutil
import subprocess
import tempfile
import time
import unittest


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=20, **kwargs)


def display(add_cleanup):
    """Starts an Xvfb with openbox on it; returns the environment and it."""
    x = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"],
                         stdout=subprocess.PIPE)
    add_cleanup(lambda: x.kill() or x.communicate())
    env = dict(os.environ, GDK_BACKEND="x11", NO_AT_BRIDGE="1",
               DISPLAY=":" + x.stdout.readline().decode().strip(),
               WAYLAND_DISPLAY="", LSAN_OPTIONS="detect_leaks=0")
    check, wm = ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], None
    while b"window id" not in run(check, env=env).stdout:  # openbox is up
        if wm is None or wm.poll() is not None:  # or it found no display yet
            wm = subprocess.Popen(["openbox"], env=env,
                                  stderr=subprocess.DEVNULL)
        time.sleep(0.05)
    add_cleanup(lambda: wm.kill() or wm.wait())
    return env, x


def tell(env, window, protocol):
    """Sends a WM_PROTOCOLS message to |window|; True once the answer (a ping
    is answered to the root window) came within 2 seconds."""
    x11, c = ctypes.CDLL("libX11.so.6"), ctypes
    x11.XOpenDisplay.restype = c.c_void_p
    x11.XInternAtom.restype = x11.XDefaultRootWindow.restype = c.c_ulong
    x11.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
    x11.XSendEvent.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_long,
                               c.c_void_p]
    x11.XDefaultRootWindow.argtypes = x11.XPending.argtypes = [c.c_void_p]
    x11.XSelectInput.argtypes = [c.c_void_p, c.c_ulong, c.c_long]
    x11.XNextEvent.argtypes = [c.c_void_p, c.c_void_p]
    x = x11.XOpenDisplay(env["DISPLAY"].encode())
    x11.XSelectInput(x, x11.XDefaultRootWindow(x), 1 << 19)  # substructure
    event = (c.c_long * 24)(33, 0, 0, 0, int(window), x11.XInternAtom(
        x, b"WM_PROTOCOLS", 0), 32, x11.XInternAtom(x, protocol, 0), 4321)
    x11.XSendEvent(x, int(window), 0, 0, event)
    for _ in range(40):
        while x11.XPending(x):
            x11.XNextEvent(x, event)
            if event[0] & 0xFFFFFFFF == 33 and event[8] == 4321:  # ours
                return True
        time.sleep(0.05)
    return False


class WindowTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        if not all(map(shutil.which, ("Xvfb", "xdotool", "openbox"))):
            raise (AssertionError if os.environ.get("DRAVELKENT_E2E_STRICT")
                   else unittest.SkipTest)("Xvfb, xdotool, openbox needed")
        cls.env = display(cls.addClassCleanup)[0]

    def windows(self, pid, count, sync=(), env=None):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:  # a search takes milliseconds
            shown = run(["xdotool", "search", *sync, "--onlyvisible", "--pid",
                         str(pid), "--name", "."], env=env or self.env
                        ).stdout.split()
            if len(shown) == count:
                return shown
        self.fail("%d windows shown, not %d" % (len(shown), count))

    def drive(self, root, presses):
        """Presses each key, half a second after the newest of the windows
        shown came, in it: a box takes no key before."""
        program = subprocess.Popen([os.environ["DRAVELKENT_BIN"]], cwd=root,
                                   env=self.env, stdin=subprocess.DEVNULL)
        try:  # searches in a row while it starts can crowd out its own
            first = self.windows(program.pid, 1, ["--sync"])[0]
            for count, keys in presses:
                shown = self.windows(program.pid, count)
                window = ([w for w in shown if w != first] or shown)[0]
                time.sleep(0.6)
                run(["xdotool", "windowfocus", "--sync", window, "key",
                     "--delay", "80", *keys.split()], env=self.env, check=True)
            return program.wait(20)
        finally:
            program.kill()
            program.wait()

    def folder(self, basic):
        root = tempfile.mkdtemp(prefix="dravelkent-gui-")
        self.addCleanup(shutil.rmtree, root)
        os.mkdir(root + "/src")
        open(root + "/src/data.log", "w").close()
        with open(root + "/Dravelkent.ini", "wb") as f:
            f.write("\ufeff[基本]\n".encode() + basic + (
                "\nTIMESTAMP=20000101\n[設定]\n01DIRNAMEFROM=src\n"
                "01DIRNAMETO=dst\n01FILENAME=data\n01KIND=log\n").encode())
        return root

    def test_keys_and_exit_status_as_on_the_console(self):
        for basic, presses, runs in [  # presses: (windows shown, keys)
                (b"VIEW=On", [(1, "Escape")], False),
                (b"VIEW=On", [(1, "F1"), (2, "Return"), (1, "Escape")], False),
                (b"VIEW=On", [(1, "Return")], True),
                (b"VIEW=On\nMESSAGE=On", [(1, "Return"), (2, "Return")], True),
                # A failure box outlives a Return typed ahead.
                (b"VIEW=On\nMESSAGE=On\nTIMESTAMP=00000000",
                 [(1, "Return Return"), (2, "Return"), (2, "Return")], False),
                (b"VIEW=On\nX=\x82\xa0", [(1, "Escape")], False)]:  # CP932
            failing = b"00000000" in basic  # a job whose target is a file
            status = int(failing or basic.endswith(b"\xa0"))  # or not UTF-8
            with self.subTest(basic=basic, presses=presses):
                root = self.folder(basic)
                if failing:
                    open(root + "/dst", "w").close()
                window = self.drive(root, presses)
                with open(root + "/Dravelkent.ini", "rb") as f:
                    kept = b"TIMESTAMP=20000101" in f.read()
                console = run([os.environ["DRAVELKENT_BIN"]], cwd=root,
                              input=b"\n" if failing else b"",  # Enter runs
                              env=dict(self.env, DISPLAY="")).returncode
                moved = not os.listdir(root + "/src")
                self.assertEqual((window, console, moved, kept),
                                 (status, status, runs, not runs))

    def test_a_module_cut_short_or_of_another_version_is_not_loaded(self):
        program = os.environ["DRAVELKENT_BIN"]
        with open(os.path.dirname(program) + "/dravelkent-gui.so", "rb") as f:
            module = f.read()
        for bad, why in [(module[:len(module) // 2], b"it is cut short"),
                         (module.replace(b"module 1.", b"module 0."),
                          b"it is not of version")]:
            root = self.folder(b"VIEW=On")
            shutil.copy(program, root)
            with open(root + "/dravelkent-gui.so", "wb") as f:
                f.write(bad)
            result = run([root + "/dravelkent"], cwd=root, env=self.env,
                         stdin=subprocess.DEVNULL)  # the console closes
            self.assertEqual(result.returncode, 0)
            self.assertIn(b"dravelkent-gui.so is not loaded: " + why,
                          result.stderr)

    def test_a_window_answers_during_a_run_which_outlives_the_display(self):
        env, x = display(self.addCleanup)
        root = self.folder(b"VIEW=On")
        with open(root + "/Dravelkent.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            program = subprocess.Popen(
                [os.environ["DRAVELKENT_BIN"]], cwd=root, env=env,
                stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
            self.addCleanup(program.kill)
            window = self.windows(program.pid, 1, ["--sync"], env)[0]
            run(["xdotool", "windowfocus", "--sync", window, "key", "Return"],
                env=env, check=True)
            time.sleep(0.5)  # the run waits for the lock
            self.assertTrue(tell(env, window, b"_NET_WM_PING"))
            tell(env, window, b"WM_DELETE_WINDOW")  # 2 s later, still there
            self.windows(program.pid, 1, env=env)
            x.kill()  # the display goes; the run goes on without it
            x.wait()
        self.assertEqual(program.wait(20), 0)
        self.assertIn(b"display is lost", program.stderr.read())
        self.assertFalse(os.listdir(root + "/src"))


if __name__ == "__main__":
    unittest.main()
