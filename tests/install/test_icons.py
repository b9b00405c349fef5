"""The theme icons drawn from the window's XPM icon: the same pixels as
ImageMagick draws, and clear failures on pictures the drawer cannot use."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_support as s  # noqa: E402

SMALL_XPM = """/* XPM */
static const char* const small_xpm[] = {
"2 2 3 1",
". c None",
"r c #FF0000",
"b c #00f",
"r.",
"b%s",
};
"""


class IconTest(unittest.TestCase):

    def setUp(self):
        s.require_environment(self)
        self.script = os.path.join(s.SOURCE_DIR, "packaging", "xpm_to_png.py")
        self.icons = [os.path.join(s.SOURCE_DIR, "src", "ui",
                                   "dravelkent_%d.xpm" % n) for n in (16, 32)]
        self.scratch = tempfile.mkdtemp(prefix="dravelkent-icons-")
        self.addCleanup(shutil.rmtree, self.scratch, True)

    def draw(self, size, icons, output):
        return s.run([sys.executable, self.script, "--size", str(size),
                      "-o", output] + icons)

    def pixels(self, *convert_args):
        result = s.run(["convert"] + list(convert_args) + ["rgba:-"])
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_built_icons_match_imagemagick(self):
        if shutil.which("convert") is None:
            self.skipTest("ImageMagick's convert is not installed")
        # The sharpest source: the largest picture whose width divides the
        # size, enlarged by whole pixels.
        sources = {16: (16, 1), 32: (32, 1), 48: (16, 3), 64: (32, 2),
                   128: (32, 4), 256: (32, 8)}
        self.assertEqual(sorted(sources), list(s.ICON_SIZES))
        for size, (width, factor) in sources.items():
            with self.subTest(size=size):
                built = os.path.join(s.BUILD_DIR, "icons", "hicolor",
                                     "%dx%d" % (size, size), "apps",
                                     "dravelkent.png")
                xpm = self.icons[0 if width == 16 else 1]
                self.assertEqual(self.pixels(built),
                                 self.pixels(xpm, "-scale",
                                             "%d%%" % (100 * factor)))

    def test_small_picture_colours_and_transparency(self):
        xpm = os.path.join(self.scratch, "small.xpm")
        with open(xpm, "w") as f:
            f.write(SMALL_XPM % "b")
        out = os.path.join(self.scratch, "small.png")
        result = self.draw(4, [xpm], out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(s.png_size(out), (4, 4))
        if shutil.which("convert") is None:
            self.skipTest("ImageMagick's convert is not installed")
        red, clear, blue = b"\xff\0\0\xff", b"\0\0\0\0", b"\0\0\xff\xff"
        row_1 = red * 2 + clear * 2
        row_2 = blue * 4
        pixels = self.pixels(out)
        self.assertEqual(pixels, row_1 * 2 + row_2 * 2)

    def test_unusable_pictures_fail_without_output(self):
        cases = [
            ("no data", "/* XPM */\n", 2, "no XPM data"),
            ("short header", '"2 2"\n', 2, "bad XPM header"),
            ("ends early", SMALL_XPM.split('"b%s"')[0] + "};", 2,
             "ends early"),
            ("pixel without colour", SMALL_XPM % "x", 2, "has no colour"),
            ("row too short", SMALL_XPM % "", 2, "wrong width"),
            ("named colour", SMALL_XPM.replace("#FF0000", "red") % "b", 2,
             "unsupported colour"),
            ("size not a multiple", SMALL_XPM % "b", 3, "no picture fits"),
            ("not square", SMALL_XPM.replace('"2 2 3 1"', '"1 2 3 1"')
             .replace('"r."', '"r"').replace('"b%s"', '"b"'), 2,
             "not square"),
        ]
        for name, text, size, message in cases:
            with self.subTest(name):
                xpm = os.path.join(self.scratch, "bad.xpm")
                with open(xpm, "w") as f:
                    f.write(text)
                out = os.path.join(self.scratch, "bad.png")
                result = self.draw(size, [xpm], out)
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr.decode())
                self.assertFalse(os.path.exists(out))
                self.assertFalse(os.path.exists(out + ".tmp"))

    def test_missing_picture_fails(self):
        out = os.path.join(self.scratch, "none.png")
        result = self.draw(16, [os.path.join(self.scratch, "none.xpm")], out)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"none.xpm", result.stderr)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
