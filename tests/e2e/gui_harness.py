"""Runs the program in a private Xvfb and drives its windows with xdotool.

Every external call has a timeout and every started program is killed when a
test ends, so that no test can hang.
"""

import ctypes
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from gui_jobs import (  # noqa: F401  (the tests use them through here)
    EXIT_TIMEOUT, files_rotate, move_job, old_copies_expire, program_path,
    read_ini, require_settings, rotated_copies, skip_unless, write_ini)

TOOL_TIMEOUT = 10  # seconds for one xdotool, xclip, xprop or import call
WINDOW_TIMEOUT = 15  # seconds for a window to appear

START_TEXT = "INIファイルに設定されている処理を実行します"
DIALOG_TITLE = "Dravelkent"
ABOUT_TITLE = "Dravelkentのﾊﾞｰｼﾞｮﾝ情報"
MESSAGE_TITLE = "確認"
RUN_DONE = "完了しました。"


def screenshot_dir():
    path = os.path.join(os.path.dirname(program_path()), "e2e-screenshots")
    os.makedirs(path, exist_ok=True)
    return path


class XServer:
    """A private Xvfb on a free display number."""

    def __init__(self):
        if shutil.which("Xvfb") is None:
            raise unittest.SkipTest("Xvfb cannot start: it is not installed")
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        os.set_blocking(read_end, False)
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            if self.proc.poll() is not None:
                break
            try:
                chunk = os.read(read_end, 16)
            except BlockingIOError:
                time.sleep(0.02)
                continue
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise unittest.SkipTest("Xvfb cannot start on this machine")
        self.display = ":" + number.decode().strip()

    def env(self, **extra):
        """Environment for a client of this server."""
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env["DISPLAY"] = self.display
        env["GDK_BACKEND"] = "x11"
        env["GDK_GL"] = "disable"  # no Mesa without a window manager
        env["NO_AT_BRIDGE"] = "1"  # no accessibility bus here
        # The toolkit's libraries keep memory until exit on purpose.
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                            "toolkit_leaks.supp")
        env.setdefault("LSAN_OPTIONS", "suppressions=" + supp)
        env.update(extra)
        return env

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)


def run_tool(args, env, timeout=TOOL_TIMEOUT, check=True):
    """Runs an X tool with a timeout; returns its stdout (text)."""
    result = subprocess.run(args, env=env, capture_output=True, timeout=timeout)
    if check and result.returncode != 0:
        raise AssertionError("%s failed (%d): %s" % (
            " ".join(args), result.returncode,
            result.stderr.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


class Program:
    """One run of the program, in the background, with a watchdog."""

    def __init__(self, cwd, env, binary=None):
        self.cwd = cwd
        self.out_path = os.path.join(cwd, ".stdout")
        self.err_path = os.path.join(cwd, ".stderr")
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(
                [binary or program_path()], cwd=cwd, env=env,
                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self.pid = self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def wait(self, timeout=EXIT_TIMEOUT):
        """Returns the exit status; kills the program and fails if it hangs."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("the program did not end within %ds" % timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode(errors="replace")

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode(errors="replace")


class Screen:
    """xdotool and friends on one X server."""

    def __init__(self, server):
        self.env = server.env()

    def find_window(self, program, title, timeout=WINDOW_TIMEOUT):
        """Returns the id of the program's visible window titled |title|."""
        try:
            out = run_tool(
                ["xdotool", "search", "--sync", "--onlyvisible", "--all",
                 "--pid", str(program.pid), "--name", "^%s$" % title],
                self.env, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("no window %r appeared within %ds%s" % (
                title, timeout, "" if program.alive() else
                " (the program ended: %r)" % program.stderr()))
        ids = out.split()
        if not ids:
            raise AssertionError("no window %r" % title)
        return ids[0]

    def visible_windows(self, program, title):
        out = run_tool(
            ["xdotool", "search", "--onlyvisible", "--all", "--pid",
             str(program.pid), "--name", "^%s$" % title],
            self.env, check=False)
        return out.split()

    def wait_until_gone(self, program, title, timeout=WINDOW_TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not program.alive() or not self.visible_windows(program, title):
                return
            time.sleep(0.05)
        raise AssertionError("window %r is still shown" % title)

    def move(self, window, x, y):
        run_tool(["xdotool", "windowmove", "--sync", window, str(x), str(y)],
                 self.env)

    def wait_for_next(self, program, title, old, timeout=WINDOW_TIMEOUT):
        """Returns the id of a window titled |title| other than |old|, once
        |old| is gone."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            shown = self.visible_windows(program, title)
            if old not in shown and shown:
                return shown[0]
            time.sleep(0.05)
        raise AssertionError("no new window %r within %ds" % (title, timeout))

    def key(self, window, *keys):
        """Focuses |window| (there is no window manager) and sends |keys|."""
        run_tool(["xdotool", "windowfocus", "--sync", window, "key", *keys],
                 self.env)

    def geometry(self, window):
        out = run_tool(["xdotool", "getwindowgeometry", "--shell", window],
                       self.env)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, window, x, y, button=1, repeat=1):
        run_tool(["xdotool", "mousemove", "--window", window, str(x), str(y),
                  "click", "--repeat", str(repeat), "--delay", "80",
                  str(button)], self.env)

    def click_dialog_units(self, window, du_x, du_y, button=1, repeat=1):
        """Clicks the main dialog at a point given in its dialog units."""
        width, height = self.geometry(window)
        self.click(window, du_x * width // 159, du_y * height // 45, button,
                   repeat)

    def selected_text(self):
        """The X primary selection, as a triple click leaves it."""
        return run_tool(["xclip", "-o", "-selection", "primary"], self.env,
                        check=False)

    def read_text_at(self, window, x, y):
        """Selects the text line at x, y with a triple click and reads it."""
        deadline = time.monotonic() + 5
        text = ""
        while time.monotonic() < deadline:
            self.click(window, x, y, repeat=3)
            text = self.selected_text()
            if text:
                return text
            time.sleep(0.1)
        return text

    def transient_for(self, window):
        out = run_tool(["xprop", "-id", window, "WM_TRANSIENT_FOR"], self.env,
                       check=False)
        if "#" not in out:
            return None
        return str(int(out.split("#")[1].strip().split()[0], 16))

    def screenshot(self, window, name):
        if not window:  # import with no id grabs the pointer and waits
            raise AssertionError("no window to take a picture of")
        path = os.path.join(screenshot_dir(), name)
        run_tool(["import", "-window", window, path], self.env, timeout=20)
        return path

    def request_close(self, window):
        """Sends WM_DELETE_WINDOW, as a window manager's close button does."""
        send_delete_window(self.env["DISPLAY"], int(window))


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                ("pad", ctypes.c_long * 12)]


def send_delete_window(display_name, window):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                               ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise AssertionError("cannot open display " + display_name)
    try:
        event = _ClientMessage()
        event.type = 33  # ClientMessage
        event.window = window
        event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.format = 32
        event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.data[1] = 0  # CurrentTime
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


class GuiTestCase(unittest.TestCase):
    """A private X server per class, a fresh folder and watchdog per test."""

    @classmethod
    def setUpClass(cls):
        cls.server = XServer()
        cls.screen = Screen(cls.server)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="dravelkent-gui-")
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.kill()
        shutil.rmtree(self.root, ignore_errors=True)

    def reset(self):
        """A fresh folder, for each case of a table."""
        self.tearDown()
        self.setUp()

    def start(self, env=None, binary=None):
        program = Program(self.root, env or self.server.env(), binary)
        self.programs.append(program)
        return program

    def assert_clean_end(self, program, status=0):
        """The program ends with |status| and no toolkit complaint."""
        self.assertEqual(program.wait(), status, program.stderr())
        self.assertNotIn("toolkit check failed", program.stderr())
        self.assertNotIn("Gtk-CRITICAL", program.stderr())

    def assert_rotated(self):
        """The job's target exists; its file moved when this build rotates."""
        self.assertTrue(os.path.isdir(os.path.join(self.root, "dst")))
        skip_unless(self, files_rotate(), "this build does not move files "
                    "yet; the rest of the test passed")
        self.assertEqual(len(rotated_copies(self.root)), 1)
        self.assertFalse(os.path.exists(os.path.join(self.root, "src", "data.log")))

    def assert_not_run(self):
        """Nothing of a run happened: no folder, no file moved, no date kept."""
        self.assertFalse(os.path.exists(os.path.join(self.root, "dst")))
        self.assertTrue(os.path.exists(os.path.join(self.root, "src", "data.log")))
        self.assertIn("TIMESTAMP=20000101", read_ini(self.root))
