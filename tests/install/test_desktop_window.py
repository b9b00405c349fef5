"""The desktop menu entry, installed with cmake --install, opens the window
on the settings file in ~/.config/dravelkent (under a private Xvfb)."""

import os
import shutil
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(os.path.dirname(here), "e2e"))
import gui_harness as h  # noqa: E402
import install_support as s  # noqa: E402


class DesktopWindowTest(h.GuiTestCase):

    @classmethod
    def setUpClass(cls):
        if not s.GUI_MODULE:
            raise unittest.SkipTest("built without the GUI module")
        s.install_into_scratch(cls)
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        s.require_environment(self)
        self.assertEqual(self.install.returncode, 0, self.install.stderr)
        super().setUp()
        self.home = os.path.join(self.root, "home")
        os.mkdir(self.home)
        self.ini = os.path.join(self.home, ".config", "dravelkent",
                                "Dravelkent.ini")

    def start_from_menu(self):
        # The command line of the entry, as a menu would run it.
        entry = s.read_unit(self.tree.file(
            "share/applications/dravelkent.desktop"))["Desktop Entry"]
        return self.start(self.server.env(HOME=self.home),
                          binary=entry["Exec"])

    def read_settings(self):
        with open(self.ini, encoding="utf-8") as f:
            return f.read()

    def test_first_start_waits_in_the_window(self):
        program = self.start_from_menu()
        dialog = self.screen.find_window(program, h.DIALOG_TITLE)
        self.assertIn("VIEW=On\n", self.read_settings())
        self.screen.key(dialog, "Escape")  # "閉じる": no run
        self.assert_clean_end(program)
        self.assertNotIn("TIMESTAMP", self.read_settings())

    def test_run_button_runs_and_says_so(self):
        program = self.start_from_menu()
        dialog = self.screen.find_window(program, h.DIALOG_TITLE)
        self.screen.key(dialog, "Return")  # "実行"
        box = self.screen.find_window(program, h.MESSAGE_TITLE)
        self.screen.key(box, "Return")
        self.assert_clean_end(program)
        self.assertRegex(self.read_settings(), r"\nTIMESTAMP=\d{8}\n")


if __name__ == "__main__":
    unittest.main()
