"""The Debian package, made with cpack from the build folder into a scratch
folder, unpacked with dpkg -x into a scratch root and run from there."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_support as s  # noqa: E402

TOOLS = ("dpkg", "dpkg-deb", "dpkg-shlibdeps")


def missing_tools():
    return [t for t in TOOLS + (s.CPACK,) if shutil.which(t) is None]


class PackageTest(s.InstalledTreeChecks, unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="dravelkent-package-")
        cls.root = os.path.join(cls.scratch, "root")
        cls.tree = s.InstalledTree(cls.root, "/usr")
        cls.made = None
        cls.deb = None
        if missing_tools() or not (s.BUILD_DIR and s.VERSION):
            return  # setUp skips or fails each test with the reason
        out = os.path.join(cls.scratch, "out")
        with s.build_dir_kept():
            cls.made = s.run([s.CPACK, "--config",
                              os.path.join(s.BUILD_DIR, "CPackConfig.cmake"),
                              "-B", out], cwd=s.BUILD_DIR, timeout=240)
        arch = subprocess.run(["dpkg", "--print-architecture"],
                              capture_output=True, text=True,
                              timeout=s.TIMEOUT).stdout.strip()
        cls.deb = os.path.join(out, "dravelkent_%s_%s.deb" % (s.VERSION, arch))
        if os.path.exists(cls.deb):
            s.run(["dpkg", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        missing = missing_tools()
        if missing:
            self.skipTest("cannot build the package without %s "
                          "(see tools/packages-package.txt)"
                          % ", ".join(missing))
        s.require_environment(self)
        self.assertEqual(self.made.returncode, 0,
                         (self.made.stdout + self.made.stderr).decode())
        self.assertTrue(os.path.exists(self.deb),
                        "%s not made:\n%s" % (self.deb, self.made.stdout))

    def field(self, name):
        result = s.run(["dpkg-deb", "--field", self.deb, name], check=True)
        return result.stdout.decode().strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "dravelkent")
        self.assertEqual(self.field("Version"), s.VERSION)
        self.assertEqual(self.field("Section"), "utils")
        self.assertTrue(self.field("Maintainer"))
        self.assertTrue(self.field("Description").startswith(
            "daily file rotation"))
        # The dependencies come from dpkg-shlibdeps: the C and C++ runtimes,
        # and the toolkit for the window module.
        depends = [d.strip().split()[0]
                   for d in self.field("Depends").split(",")]
        self.assertIn("libc6", depends)
        self.assertIn("libstdc++6", depends)
        if s.GUI_MODULE:
            self.assertTrue(any(d.startswith("libwxgtk") for d in depends),
                            depends)

    def test_lintian_finds_no_errors(self):
        if shutil.which("lintian") is None:
            reason = "lintian is not installed"
            if os.environ.get("DRAVELKENT_E2E_STRICT"):
                self.fail(reason)
            self.skipTest(reason)
        result = s.run(["lintian", self.deb], timeout=240)
        report = result.stdout.decode()
        self.assertEqual(result.returncode, 0, report + result.stderr.decode())
        self.assertNotRegex(report, r"(?m)^E: ")

    def test_files_belong_to_root_and_live_under_usr(self):
        listing = s.run(["dpkg-deb", "--contents", self.deb],
                        check=True).stdout.decode().splitlines()
        self.assertTrue(listing)
        for line in listing:
            fields = line.split()
            with self.subTest(fields[-1]):
                self.assertEqual(fields[1], "root/root")
                self.assertTrue(fields[5].startswith("./usr/"), fields[5])

    def test_binaries_are_stripped(self):
        if shutil.which("file") is None:
            self.skipTest("file is not installed")
        binaries = ["bin/dravelkent"]
        if s.GUI_MODULE:
            binaries.append("lib/dravelkent/dravelkent-gui.so")
        for relative in binaries:
            with self.subTest(relative):
                result = s.run(["file", "-b", self.tree.file(relative)],
                               check=True)
                self.assertIn(b", stripped", result.stdout)

    def test_unpacked_program_runs_the_shipped_demo(self):
        folder = os.path.join(tempfile.mkdtemp(prefix="dravelkent-demo-"),
                              "demo")
        self.addCleanup(shutil.rmtree, os.path.dirname(folder), True)
        shutil.copytree(
            self.tree.file("share/doc/dravelkent/examples/demo"), folder)
        result = s.run([self.tree.program()], cwd=folder, env=s.quiet_env())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        # MESSAGE=On: the end of the run is said, also without a terminal.
        self.assertIn("完了しました。".encode(), result.stdout)
        # Job 2's target folder is made by the run.
        self.assertTrue(os.path.isdir(os.path.join(folder, "archive/reports")))
        ini = os.path.join(folder, "Dravelkent.ini")
        with open(ini, encoding="utf-8") as f:
            self.assertIn("TIMESTAMP=00000000\n", f.read())

    def test_unpacked_program_writes_a_first_settings_file(self):
        folder = tempfile.mkdtemp(prefix="dravelkent-first-")
        self.addCleanup(shutil.rmtree, folder, True)
        result = s.run([self.tree.program()], cwd=folder, env=s.quiet_env())
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, b"", b""))
        ini = os.path.join(folder, "Dravelkent.ini")
        with open(ini, encoding="utf-8") as f:
            text = f.read()
        self.assertRegex(text, r"^\[基本\]\nVIEW=Off\nMESSAGE=Off\n"
                               r"TIMESTAMP=\d{8}\n\[設定\]\n")


if __name__ == "__main__":
    unittest.main()
