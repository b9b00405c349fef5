"""Shared checks of an installed Dravelkent tree, whether it came from
"cmake --install" or from the Debian package."""

import configparser
import contextlib
import gzip
import os
import re
import shutil
import stat
import struct
import subprocess
import tempfile
import unittest

BUILD_DIR = os.environ.get("DRAVELKENT_BUILD_DIR", "")
SOURCE_DIR = os.environ.get("DRAVELKENT_SOURCE_DIR", "")
VERSION = os.environ.get("DRAVELKENT_VERSION", "")
GUI_MODULE = os.environ.get("DRAVELKENT_GUI_MODULE", "0") == "1"
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
CPACK = os.environ.get("CPACK_COMMAND", "cpack")

ICON_SIZES = (16, 32, 48, 64, 128, 256)
TIMEOUT = 120  # seconds for any one command

EXECUTABLE = 0o755
DATA = 0o644


def require_environment(test_case):
    if not (BUILD_DIR and SOURCE_DIR and VERSION):
        test_case.fail("run under CTest: DRAVELKENT_BUILD_DIR, "
                       "DRAVELKENT_SOURCE_DIR and DRAVELKENT_VERSION "
                       "are unset")


def expected_files():
    """(path under the prefix, permission bits) of every installed file."""
    files = [
        ("bin/dravelkent", EXECUTABLE),
        ("lib/dravelkent/dravelkent-desktop", EXECUTABLE),
        ("share/man/man1/dravelkent.1.gz", DATA),
        ("share/applications/dravelkent.desktop", DATA),
        ("share/doc/dravelkent/README.md", DATA),
        ("share/doc/dravelkent/copyright", DATA),
        ("share/doc/dravelkent/changelog.gz", DATA),
        ("share/doc/dravelkent/docs/README.md", DATA),
        ("share/doc/dravelkent/docs/main_dialog.png", DATA),
        ("share/doc/dravelkent/examples/dravelkent.service", DATA),
        ("share/doc/dravelkent/examples/dravelkent.timer", DATA),
        ("share/doc/dravelkent/examples/dravelkent.cron", DATA),
        ("share/doc/dravelkent/examples/demo/Dravelkent.ini", DATA),
        ("share/doc/dravelkent/examples/demo/logs/app.log", DATA),
    ]
    files += [("share/icons/hicolor/%dx%d/apps/dravelkent.png" % (s, s), DATA)
              for s in ICON_SIZES]
    if GUI_MODULE:
        files.append(("lib/dravelkent/dravelkent-gui.so", DATA))
    return files


@contextlib.contextmanager
def build_dir_kept():
    """Installing from the build folder rewrites its install_manifest.txt;
    put back what was there (a real install's list of files)."""
    manifest = os.path.join(BUILD_DIR, "install_manifest.txt")
    saved = None
    if os.path.exists(manifest):
        with open(manifest, "rb") as f:
            saved = f.read()
    try:
        yield
    finally:
        if saved is None:
            with contextlib.suppress(FileNotFoundError):
                os.remove(manifest)
        else:
            with open(manifest, "wb") as f:
                f.write(saved)


def install_into_scratch(test_class):
    """Installs the build with cmake --install into a fresh prefix; sets
    |test_class|.scratch (to remove), .tree and .install (the result)."""
    test_class.scratch = tempfile.mkdtemp(prefix="dravelkent-install-")
    prefix = os.path.join(test_class.scratch, "prefix")
    test_class.tree = InstalledTree("", prefix)
    test_class.install = None
    if BUILD_DIR and VERSION:
        with build_dir_kept():
            test_class.install = run([CMAKE, "--install", BUILD_DIR,
                                      "--prefix", prefix])


def run(cmd, **kwargs):
    kwargs.setdefault("capture_output", True)
    kwargs.setdefault("timeout", TIMEOUT)
    return subprocess.run(cmd, **kwargs)


def quiet_env(**extra):
    """The environment of a run that must not reach a display."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME"):
        env.pop(name, None)
    env["LC_ALL"] = "C.UTF-8"
    env.update(extra)
    return env


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def read_unit(path):
    """Returns a unit file (or README block) as {section: {key: value}}."""
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_string(f.read())
    return {s: dict(parser.items(s)) for s in parser.sections()}


class InstalledTree:
    """An installed tree: its files under |files_root| + |prefix|, the paths
    inside its texts under |prefix| (they differ for an unpacked package)."""

    def __init__(self, files_root, prefix):
        self.files_root = files_root
        self.prefix = prefix

    def file(self, relative):
        return os.path.join(self.files_root + self.prefix, relative)

    def text(self, relative):
        with open(self.file(relative), encoding="utf-8") as f:
            return f.read()

    def program(self):
        return self.file("bin/dravelkent")


class InstalledTreeChecks:
    """Checks shared by the install and the package tests; the test class
    sets self.tree to an InstalledTree in setUpClass."""

    def test_every_file_is_in_its_place(self):
        for relative, mode in expected_files():
            with self.subTest(relative):
                path = self.tree.file(relative)
                self.assertTrue(os.path.isfile(path), path)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode)

    def test_icons_are_pngs_of_their_theme_size(self):
        for size in ICON_SIZES:
            with self.subTest(size=size):
                path = self.tree.file(
                    "share/icons/hicolor/%dx%d/apps/dravelkent.png"
                    % (size, size))
                self.assertEqual(png_size(path), (size, size))

    def test_version_comes_from_the_build(self):
        result = run([self.tree.program(), "--version"], env=quiet_env())
        self.assertEqual((result.returncode, result.stdout),
                         (0, ("Dravelkent Version %s\n" % VERSION).encode()))
        if GUI_MODULE:
            # The About box shows the same line.
            with open(self.tree.file("lib/dravelkent/dravelkent-gui.so"),
                      "rb") as f:
                line = ("Dravelkent Version %s" % VERSION).encode()
                self.assertIn(line + b"\0", f.read())

    def test_manual_page_renders_without_warnings(self):
        if shutil.which("man") is None or shutil.which("lexgrog") is None:
            self.skipTest("man and lexgrog (man-db) are not installed")
        page = self.tree.file("share/man/man1/dravelkent.1.gz")
        # The page holds Japanese texts: they render in a UTF-8 locale. It
        # fits 80 columns with the prefix /usr; a longer scratch prefix
        # gets the columns it adds, so that its paths still fit a line.
        width = 80 + max(0, len(self.tree.prefix) - len("/usr"))
        env = quiet_env(MANWIDTH=str(width))
        result = run(["man", "--warnings", "-l", page], env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.decode(), "")
        text = result.stdout.decode()
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS",
                        "THE SETTINGS FILE", "EXIT STATUS", "ENVIRONMENT",
                        "FILES", "SCHEDULING", "EXAMPLES", "SEE ALSO"):
            self.assertIn("\n" + heading + "\n", text)
        for name in ("[基本]", "[設定]", "[裏設定]", "VIEW", "BACKUP",
                     "MESSAGE", "TIMESTAMP", "NNDIRNAMEFROM", "NNDIRNAMETO",
                     "NNFILENAME", "NNKIND", "NNDELETEDAY", "NNDELETEALL"):
            self.assertIn(name, text)
        self.assertIn("Dravelkent Version %s" % VERSION, text)
        self.assertRegex(text, r"\nDravelkent %s +\S+ +DRAVELKENT\(1\)\n"
                         % re.escape(VERSION))
        self.assertIn(self.tree.prefix + "/share/doc/dravelkent/examples",
                      text)

        result = run(["lexgrog", page], env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b'"dravelkent - keep dated daily copies', result.stdout)

    def test_installed_texts_name_the_installed_paths(self):
        configured = ["lib/dravelkent/dravelkent-desktop",
                      "share/applications/dravelkent.desktop",
                      "share/doc/dravelkent/examples/dravelkent.service",
                      "share/doc/dravelkent/examples/dravelkent.cron"]
        for relative in configured:
            with self.subTest(relative):
                self.assertNotIn("@DRAVELKENT", self.tree.text(relative))
        with gzip.open(self.tree.file("share/man/man1/dravelkent.1.gz"),
                       "rt", encoding="utf-8") as f:
            page = f.read()
        self.assertNotIn("@DRAVELKENT", page)
        self.assertIn(self.tree.prefix + "/bin/dravelkent", page)

    def test_desktop_entry_is_valid_and_names_installed_files(self):
        entry = self.tree.file("share/applications/dravelkent.desktop")
        if shutil.which("desktop-file-validate") is None:
            self.skipTest("desktop-file-validate (desktop-file-utils) "
                          "is not installed")
        result = run(["desktop-file-validate", entry])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout + result.stderr, b"")
        values = read_unit(entry)["Desktop Entry"]
        starter = self.tree.prefix + "/lib/dravelkent/dravelkent-desktop"
        self.assertEqual(values["Exec"], starter)
        self.assertEqual(values["Icon"], "dravelkent")
        self.assertEqual(values["Terminal"], "false")

    def test_scheduling_examples_run_the_installed_program(self):
        examples = "share/doc/dravelkent/examples/"
        program = self.tree.prefix + "/bin/dravelkent"
        service = read_unit(self.tree.file(examples + "dravelkent.service"))
        self.assertEqual(service["Service"]["ExecStart"], program)
        self.assertEqual(service["Service"]["Type"], "oneshot")
        self.assertEqual(service["Service"]["WorkingDirectory"], "%h/rotation")
        timer = read_unit(self.tree.file(examples + "dravelkent.timer"))
        self.assertEqual(timer["Timer"]["OnCalendar"], "daily")
        self.assertEqual(timer["Timer"]["Persistent"], "true")
        cron = [line for line in
                self.tree.text(examples + "dravelkent.cron").splitlines()
                if line and not line.startswith("#")]
        self.assertEqual(cron, ['30 2 * * * cd "$HOME/rotation" && '
                                + program])

    def test_units_pass_systemd_analyze(self):
        if shutil.which("systemd-analyze") is None:
            self.skipTest("systemd-analyze (systemd) is not installed")
        folder = tempfile.mkdtemp(prefix="dravelkent-units-")
        self.addCleanup(shutil.rmtree, folder, True)
        units = []
        for name in ("dravelkent.service", "dravelkent.timer"):
            units.append(os.path.join(folder, name))
            shutil.copy(self.tree.file("share/doc/dravelkent/examples/" +
                                       name), units[-1])
        # The service's ExecStart names the installed program: the check
        # finds it only in a tree whose texts and files agree.
        if self.tree.files_root:
            with open(units[0], encoding="utf-8") as f:
                text = f.read()
            with open(units[0], "w", encoding="utf-8") as f:
                f.write(text.replace("ExecStart=",
                                     "ExecStart=" + self.tree.files_root))
        result = run(["systemd-analyze", "verify", "--man=no"] + units)
        if b"Failed to initialize manager" in result.stderr:
            self.skipTest("systemd-analyze cannot run here: %s"
                          % result.stderr.decode().strip())
        self.assertEqual((result.returncode, result.stderr), (0, b""))

    def test_program_finds_its_window_module(self):
        """The program looks for the module in ../lib/dravelkent; a display
        that cannot be opened makes it load the module, then fall back."""
        if not GUI_MODULE:
            self.skipTest("built without the GUI module")
        folder = tempfile.mkdtemp(prefix="dravelkent-install-")
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, "Dravelkent.ini"), "w") as f:
            f.write("[基本]\nVIEW=On\n")
        trace = os.path.join(folder, "ld-trace")
        result = run([self.tree.program()], cwd=folder, input=b"q\n",
                     env=quiet_env(DISPLAY=":65000", LD_DEBUG="files",
                                   LD_DEBUG_OUTPUT=trace))
        self.assertEqual(result.returncode, 0, result.stderr)
        loaded = ""
        for name in os.listdir(folder):
            if name.startswith("ld-trace"):
                with open(os.path.join(folder, name), errors="replace") as f:
                    loaded += f.read()
        self.assertIn(os.path.realpath(self.tree.file("bin")) +
                      "/../lib/dravelkent/dravelkent-gui.so", loaded)


def main():
    unittest.main()
