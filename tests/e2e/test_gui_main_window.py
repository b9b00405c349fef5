"""The main dialog and the About box under a real X server."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui_harness as h  # noqa: E402


class MainWindowTest(h.GuiTestCase):

    def start_waiting_dialog(self, bad_line=False):
        """Starts a run with VIEW=On and returns (program, dialog window);
        with |bad_line| the settings end in a line that cannot be decoded."""
        h.require_settings(self)
        h.write_ini(self.root, {"VIEW": "On", "MESSAGE": "Off",
                                "TIMESTAMP": "20000101"}, [h.move_job(self.root)])
        if bad_line:  # Shift-JIS after a UTF-8 byte order mark
            path = os.path.join(self.root, "Dravelkent.ini")
            with open(path, "rb") as f:
                text = f.read()
            with open(path, "wb") as f:
                f.write(b"\xef\xbb\xbf" + text + b"\x82\xa0\n")
        program = self.start()
        return program, self.screen.find_window(program, h.DIALOG_TITLE)

    def test_dialog_waits_with_the_start_text(self):
        program, dialog = self.start_waiting_dialog()
        self.screen.screenshot(dialog, "main_dialog.png")
        self.assertTrue(program.alive())
        # The status line, at its own place in dialog units.
        width, height = self.screen.geometry(dialog)
        text = self.screen.read_text_at(dialog, 20 * width // 159,
                                        14 * height // 45)
        self.assertEqual(text, h.START_TEXT)
        self.assertTrue(program.alive())
        self.screen.key(dialog, "Escape")
        self.assert_clean_end(program)
        self.assert_not_run()
        self.assertIn("VIEW=On", h.read_ini(self.root))

    def test_run_button_and_enter_run_the_jobs(self):
        ways = [
            ("Enter", lambda dialog: self.screen.key(dialog, "Return")),
            ("click on 実行", lambda dialog: self.screen.click_dialog_units(
                dialog, 45, 32)),
        ]
        for name, start_run in ways:
            with self.subTest(name):
                self.reset()
                program, dialog = self.start_waiting_dialog()
                start_run(dialog)
                self.assert_clean_end(program)
                self.assertNotIn("TIMESTAMP=20000101", h.read_ini(self.root))
                self.assert_rotated()

    def test_close_button_escape_and_window_close_end_without_a_run(self):
        def escape(dialog):
            self.screen.key(dialog, "Escape")

        ways = [
            ("click on 閉じる", lambda dialog: self.screen.click_dialog_units(
                dialog, 110, 32), 0),
            ("Escape", escape, 0),
            ("window close", lambda dialog: self.screen.request_close(dialog),
             0),
            # The line is said and fails the close, as on the console.
            ("Escape, a line that cannot be decoded", escape, 1),
        ]
        for name, close, status in ways:
            with self.subTest(name):
                self.reset()
                program, dialog = self.start_waiting_dialog(bad_line=status == 1)
                close(dialog)
                self.assert_clean_end(program, status)
                self.assert_not_run()

    def test_f1_and_context_menu_open_the_about_box(self):
        def by_f1(dialog):
            self.screen.key(dialog, "F1")

        def by_context_menu(dialog):
            # Right click on the dialog between the buttons, then the entry.
            self.screen.click_dialog_units(dialog, 78, 42, button=3)
            self.screen.key(dialog, "a")

        ways = [("F1", by_f1), ("context menu", by_context_menu)]
        for name, open_about in ways:
            with self.subTest(name):
                self.reset()
                program, dialog = self.start_waiting_dialog()
                open_about(dialog)
                about = self.screen.find_window(program, h.ABOUT_TITLE)
                self.assertEqual(self.screen.transient_for(about), dialog)
                if name == "F1":
                    self.screen.screenshot(about, "about_box.png")
                self.screen.key(about, "Return")
                self.screen.wait_until_gone(program, h.ABOUT_TITLE)
                # The dialog still waits for the user.
                self.assertTrue(program.alive())
                self.assertEqual(
                    self.screen.visible_windows(program, h.DIALOG_TITLE),
                    [dialog])
                self.screen.key(dialog, "Escape")
                self.assert_clean_end(program)
                self.assert_not_run()


if __name__ == "__main__":
    unittest.main()
