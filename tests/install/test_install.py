"""cmake --install and the Debian package: files, examples, a run."""

import glob
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ["DRAVELKENT_BUILD_DIR"]
DOC = "share/doc/dravelkent/"
FILES = ["bin/dravelkent", "lib/dravelkent/dravelkent-desktop", DOC +
         "copyright", DOC + "changelog.gz", DOC + "README.md", DOC +
         "examples/dravelkent.timer", "share/man/man1/dravelkent.1.gz",
         "share/applications/dravelkent.desktop"] + [
    "share/icons/hicolor/%dx%d/apps/dravelkent.png" % (n, n)
    for n in (16, 32, 48, 64, 128, 256)]


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=240, **kwargs)


class InstallTest(unittest.TestCase):

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="dravelkent-install-")
        self.addCleanup(shutil.rmtree, self.scratch)

    def check_tree(self, root, prefix):
        tree = root + prefix + "/"
        for relative in FILES:
            self.assertTrue(os.path.isfile(tree + relative), relative)
        for example in ("dravelkent.service", "dravelkent.cron"):
            self.assertIn(prefix + "/bin/dravelkent -C ", pathlib.Path(
                tree + DOC + "examples/" + example).read_text())
        # MESSAGE=On: the window module loads, then the console stands in.
        demo = shutil.copytree(tree + DOC + "examples/demo",
                               self.scratch + "/demo")
        env = dict(os.environ, DISPLAY=":65000", LD_DEBUG="files",
                   LD_DEBUG_OUTPUT=self.scratch + "/loaded")
        result = run([tree + "bin/dravelkent"], cwd=demo, env=env)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertTrue(os.listdir(demo + "/archive/logs"))
        # The menu entry's starter writes settings only where there are none.
        env = dict(os.environ, XDG_CONFIG_HOME=tree + "config")
        env.pop("DISPLAY", None)
        ini = pathlib.Path(tree + "config/dravelkent/Dravelkent.ini")
        mine = "[基本]\r\nVIEW=On\r\n; mine\r\n".encode()
        for before, after in ((None, b"VIEW=On\n"), (mine, mine)):
            if before:
                ini.write_bytes(before)
            run([tree + "lib/dravelkent/dravelkent-desktop"], env=env,
                input=b"", check=True)
            self.assertIn(after, ini.read_bytes())
        if os.environ.get("DRAVELKENT_GUI_MODULE") == "1":
            loaded = open(glob.glob(self.scratch + "/loaded.*")[0]).read()
            self.assertIn(os.path.realpath(tree + "bin") +
                          "/../lib/dravelkent/dravelkent-gui.so", loaded)

    def test_cmake_install(self):
        prefix = self.scratch + "/prefix"
        run(["cmake", "--install", BUILD, "--prefix", prefix], check=True)
        self.check_tree("", prefix)

    def test_package(self):
        run([os.environ["CPACK_COMMAND"], "-B", self.scratch], cwd=BUILD,
            check=True)
        deb, = glob.glob(self.scratch + "/dravelkent_*.deb")
        for line in run(["dpkg-deb", "-c", deb]).stdout.decode().split("\n"):
            self.assertRegex(line, r"^(\S+ root/root .* \./usr/.*)?$")
        lintian = run(["lintian", deb])
        self.assertEqual(lintian.returncode, 0, lintian.stdout)  # no "E:"
        run(["dpkg-deb", "-x", deb, self.scratch + "/root"], check=True)
        self.check_tree(self.scratch + "/root", "/usr")


if __name__ == "__main__":
    unittest.main()
