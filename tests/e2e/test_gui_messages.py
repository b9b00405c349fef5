"""Message boxes, and runs that start at once, under a real X server."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui_harness as h  # noqa: E402


class MessageBoxTest(h.GuiTestCase):

    def read_box_text(self, box):
        """The first line of a message box's text, which starts some 18
        pixels in from its top left corner."""
        return self.screen.read_text_at(box, 28, 22)

    def start_run_from_dialog(self, job):
        """VIEW=On, MESSAGE=On: shows the dialog and presses Enter."""
        h.require_settings(self)
        h.write_ini(self.root, {"VIEW": "On", "MESSAGE": "On",
                                "TIMESTAMP": "20000101"}, [job])
        program = self.start()
        dialog = self.screen.find_window(program, h.DIALOG_TITLE)
        self.screen.key(dialog, "Return")
        return program, dialog

    def test_completion_box_is_owned_by_the_dialog(self):
        program, dialog = self.start_run_from_dialog(h.move_job(self.root))
        box = self.screen.find_window(program, h.MESSAGE_TITLE)
        self.assertEqual(self.screen.transient_for(box), dialog)
        self.screen.screenshot(box, "message_box.png")
        self.assertEqual(self.read_box_text(box), h.RUN_DONE)
        # The run waits for the box.
        self.assertTrue(program.alive())
        self.screen.key(box, "Return")
        self.assert_clean_end(program)
        self.assert_rotated()

    def test_failed_move_is_shown_before_the_completion(self):
        h.require_settings(self)
        h.skip_unless(self, h.files_rotate(), "this build does not move files yet")
        job = h.move_job(self.root, create_source_file=False)
        program, dialog = self.start_run_from_dialog(job)
        box = self.screen.find_window(program, h.MESSAGE_TITLE)
        source = os.path.join(self.root, "src", "data.log")
        self.assertEqual(self.read_box_text(box), source + "の処理に失敗しました")
        self.screen.key(box, "Return")
        box = self.screen.wait_for_next(program, h.MESSAGE_TITLE, box)
        self.assertEqual(self.read_box_text(box), h.RUN_DONE)
        self.screen.key(box, "Return")
        # The failure counts for the exit status.
        self.assert_clean_end(program, status=1)

    def test_input_during_the_run_neither_closes_nor_runs_again(self):
        program, dialog = self.start_run_from_dialog(h.move_job(self.root))
        box = self.screen.find_window(program, h.MESSAGE_TITLE)
        # The run is held by the box: try to close the dialog and to run
        # again from it. The box is moved off the buttons first.
        self.screen.move(box, 0, 0)
        self.screen.click_dialog_units(dialog, 110, 32)  # 閉じる
        self.screen.click_dialog_units(dialog, 45, 32)   # 実行
        self.screen.request_close(dialog)
        # (Keys go to the box, which holds the grab.)
        self.assertEqual(self.screen.visible_windows(program, h.DIALOG_TITLE),
                         [dialog])
        self.assertTrue(program.alive())
        self.screen.key(box, "Return")
        self.assert_clean_end(program)
        self.assert_rotated()

    def test_run_at_once_shows_only_the_message_box(self):
        h.require_settings(self)
        h.write_ini(self.root, {"VIEW": "Off", "MESSAGE": "On",
                                "TIMESTAMP": "20000101"}, [h.move_job(self.root)])
        program = self.start()
        box = self.screen.find_window(program, h.MESSAGE_TITLE)
        self.assertEqual(self.screen.visible_windows(program, h.DIALOG_TITLE), [])
        self.assertEqual(self.read_box_text(box), h.RUN_DONE)
        self.screen.key(box, "Return")
        self.assert_clean_end(program)
        self.assert_rotated()

    def test_names_that_are_not_utf8_are_shown_without_complaint(self):
        h.require_settings(self)
        h.skip_unless(self, h.old_copies_expire(),
                      "this build does not delete expired copies yet")
        job = h.move_job(self.root)
        job["DELETEDAY"] = "1"
        target = os.path.join(self.root, "dst").encode()
        os.makedirs(target)
        # The expiry shows "<path> 削除中" with this name's raw bytes. They
        # stand in its date part, as the rest must be exactly "data.log";
        # its leading number, 2000, still reads as a date long past.
        odd = os.path.join(target, b"2000\xe9\x9501data.log")
        open(odd, "wb").close()
        program, dialog = self.start_run_from_dialog(job)
        box = self.screen.find_window(program, h.MESSAGE_TITLE)
        self.screen.key(box, "Return")
        self.assert_clean_end(program)
        self.assertFalse(os.path.exists(odd))


if __name__ == "__main__":
    unittest.main()
