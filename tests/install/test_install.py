"""cmake --install into a scratch prefix: the files, the texts that name
them, and the desktop menu entry's start in the user's settings folder."""

import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_support as s  # noqa: E402


class InstalledTestCase(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        s.install_into_scratch(cls)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        s.require_environment(self)
        self.assertEqual(self.install.returncode, 0,
                         self.install.stdout + self.install.stderr)


class InstallTest(s.InstalledTreeChecks, InstalledTestCase):
    pass


class DesktopStartTest(InstalledTestCase):
    """The menu entry's script runs the program in
    $XDG_CONFIG_HOME/dravelkent and never changes a settings file there."""

    def setUp(self):
        super().setUp()
        self.home = tempfile.mkdtemp(prefix="dravelkent-home-")
        self.addCleanup(shutil.rmtree, self.home, True)

    def start(self, env_extra, stdin):
        script = self.tree.file("lib/dravelkent/dravelkent-desktop")
        env = s.quiet_env(HOME=self.home, **env_extra)
        return s.run([script], input=stdin, env=env, cwd="/")

    def test_settings_folder_follows_xdg_config_home(self):
        cases = [
            ("unset", {}, ".config/dravelkent"),
            ("absolute", {"XDG_CONFIG_HOME": "@/cfg"}, "cfg/dravelkent"),
            ("empty", {"XDG_CONFIG_HOME": ""}, ".config/dravelkent"),
            # A relative value is not a valid base folder; it is ignored.
            ("relative", {"XDG_CONFIG_HOME": "cfg"}, ".config/dravelkent"),
        ]
        for name, env, folder in cases:
            with self.subTest(name):
                shutil.rmtree(self.home)
                os.mkdir(self.home)
                env = {k: v.replace("@", self.home) for k, v in env.items()}
                # "q": the window (here the prompt) is closed without a run.
                result = self.start(env, b"q\n")
                self.assertEqual(result.returncode, 0, result.stderr)
                ini = os.path.join(self.home, folder, "Dravelkent.ini")
                with open(ini, encoding="utf-8") as f:
                    text = f.read()
                self.assertIn("[基本]\nVIEW=On\nMESSAGE=On\n", text)
                self.assertNotIn("TIMESTAMP", text)  # no run happened

    def test_new_settings_file_waits_then_runs(self):
        result = self.start({}, b"q\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("実行".encode(), result.stdout)  # the prompt
        ini = os.path.join(self.home, ".config/dravelkent/Dravelkent.ini")
        with open(ini, encoding="utf-8") as f:
            before = f.read()

        result = self.start({}, b"\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("完了しました。".encode(), result.stdout)
        with open(ini, encoding="utf-8") as f:
            after = f.read()
        self.assertTrue(after.startswith(before.split("[設定]")[0]))
        self.assertRegex(after, r"TIMESTAMP=\d{8}\n")

    def test_existing_settings_file_is_left_to_the_program(self):
        cases = [
            ("a file", False),
            ("a link to a missing file", True),
        ]
        for name, dangling_link in cases:
            with self.subTest(name):
                folder = os.path.join(self.home, ".config/dravelkent")
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                ini = os.path.join(folder, "Dravelkent.ini")
                own = "; mine\n[基本]\nVIEW=Wait\n"
                if dangling_link:
                    os.symlink(os.path.join(self.home, "elsewhere.ini"), ini)
                else:
                    with open(ini, "w", encoding="utf-8") as f:
                        f.write(own)
                result = self.start({}, b"q\n")
                self.assertEqual(result.returncode, 0, result.stderr)
                if dangling_link:
                    # Not written through: the program alone decides (with
                    # no file to read, VIEW is "Off" and it runs at once).
                    self.assertTrue(os.path.islink(ini))
                    with open(ini, encoding="utf-8") as f:
                        self.assertNotIn("VIEW=On", f.read())
                else:
                    with open(ini, encoding="utf-8") as f:
                        self.assertEqual(f.read(), own)


class SourceAgreementTest(unittest.TestCase):
    """What the README shows agrees with what is installed, and the version
    is written down only once."""

    def setUp(self):
        s.require_environment(self)

    def readme_blocks(self):
        with open(os.path.join(s.SOURCE_DIR, "README.md"),
                  encoding="utf-8") as f:
            readme = f.read()
        return re.findall(r"```\w*\n(.*?)```", readme, re.S)

    def test_readme_units_match_the_shipped_ones(self):
        blocks = {b.splitlines()[0]: b for b in self.readme_blocks()}
        for name in ("dravelkent.service", "dravelkent.timer"):
            with self.subTest(name):
                self.assertIn("# " + name, blocks)
                scratch = tempfile.mkdtemp(prefix="dravelkent-readme-")
                self.addCleanup(shutil.rmtree, scratch, True)
                from_readme = os.path.join(scratch, name)
                with open(from_readme, "w", encoding="utf-8") as f:
                    f.write(blocks["# " + name])
                shipped = os.path.join(s.SOURCE_DIR, "packaging", name)
                if not os.path.exists(shipped):
                    shipped += ".in"
                expected = s.read_unit(shipped)
                actual = s.read_unit(from_readme)
                # The README names the program as the package installs it.
                service = expected.get("Service", {})
                if "ExecStart" in service:
                    service["ExecStart"] = service["ExecStart"].replace(
                        "@DRAVELKENT_FULL_BINDIR@", "/usr/bin")
                self.assertEqual(actual, expected)

    def test_version_is_written_only_in_the_build(self):
        version_pattern = re.compile(rb"\b\d+\.\d+\.\d+\.\d+\b")
        found = []
        for folder in ("src", "packaging", "tests"):
            for root, _, names in os.walk(os.path.join(s.SOURCE_DIR, folder)):
                for name in names:
                    path = os.path.join(root, name)
                    with open(path, "rb") as f:
                        if version_pattern.search(f.read()):
                            found.append(os.path.relpath(path, s.SOURCE_DIR))
        self.assertEqual(found, [])


if __name__ == "__main__":
    unittest.main()
