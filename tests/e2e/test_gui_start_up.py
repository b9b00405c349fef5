"""Which front end runs, and that a silent run never loads the toolkit."""

import glob
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui_harness as h  # noqa: E402


class StartUpTest(h.GuiTestCase):

    def loaded_files(self, env_extra):
        """Runs the program once; returns the shared objects it loaded."""
        trace = os.path.join(self.root, ".ld-trace")
        program = self.start(self.server.env(LD_DEBUG="files",
                                              LD_DEBUG_OUTPUT=trace,
                                              **env_extra))
        self.assert_clean_end(program)
        self.assertEqual(program.stderr(), "")
        text = ""
        for path in glob.glob(trace + ".*"):
            with open(path, errors="replace") as f:
                text += f.read()
            os.remove(path)
        return text

    def test_silent_run_with_a_display_does_not_load_the_toolkit(self):
        # No settings file: VIEW reads "Off", MESSAGE empty.
        loaded = self.loaded_files({})
        self.assertIn("libc.so", loaded)  # the trace works
        self.assertNotIn("dravelkent-gui.so", loaded)
        self.assertNotIn("libgtk", loaded)

    def test_silent_run_with_a_display_rotates_the_files(self):
        h.require_settings(self)
        h.write_ini(self.root, {"VIEW": "Off", "MESSAGE": "Off",
                                "TIMESTAMP": "20000101"}, [h.move_job(self.root)])
        loaded = self.loaded_files({})
        self.assertNotIn("dravelkent-gui.so", loaded)
        self.assertIn("VIEW=Off", h.read_ini(self.root))
        self.assert_rotated()

    def test_console_front_end_stands_in_without_a_usable_display(self):
        h.require_settings(self)
        copies = tempfile.mkdtemp(prefix="dravelkent-copies-")
        self.addCleanup(shutil.rmtree, copies, ignore_errors=True)
        lone = os.path.join(copies, "lone")
        broken = os.path.join(copies, "broken")
        for folder in (lone, broken):
            os.makedirs(folder)
            shutil.copy2(h.program_path(), folder)
        with open(os.path.join(broken, "dravelkent-gui.so"), "w") as f:
            f.write("not a shared object\n")
        display = self.server.display
        cases = [
            ("no display", {"DISPLAY": "", "WAYLAND_DISPLAY": ""}, None),
            ("stale DISPLAY", {"DISPLAY": ":4093"}, None),
            ("stale WAYLAND_DISPLAY",
             {"DISPLAY": "", "WAYLAND_DISPLAY": "dravelkent-none",
              "GDK_BACKEND": ""}, None),
            ("module missing", {"DISPLAY": display},
             os.path.join(lone, "dravelkent")),
            ("module broken", {"DISPLAY": display},
             os.path.join(broken, "dravelkent")),
        ]
        for name, env_extra, binary in cases:
            with self.subTest(name):
                self.reset()
                h.write_ini(self.root, {"VIEW": "On", "MESSAGE": "On",
                                        "TIMESTAMP": "20000101"},
                            [h.move_job(self.root)])
                env = self.server.env(**env_extra)
                for key in ("DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND"):
                    if env.get(key) == "":
                        del env[key]
                program = self.start(env, binary)
                # The console asks whether to run; stdin is empty, so it
                # closes without a run, and says nothing on stderr.
                self.assert_clean_end(program)
                self.assertEqual(program.stderr(), "")
                self.assertIn(h.START_TEXT, program.stdout())
                self.assert_not_run()


if __name__ == "__main__":
    unittest.main()
