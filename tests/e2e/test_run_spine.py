"""The run over the jobs: settings read, normalised and written back,
target folders created, the date of the run recorded."""

import os
import unittest

from e2e_support import ProgramTestCase, make_file

TEMPLATE = (
    "[基本]\n"
    "VIEW=Off\n"
    "MESSAGE=Off\n"
    "TIMESTAMP=20261206\n"
    "[設定]\n"
    "01DIRNAMEFROM=\n"
    "01DIRNAMETO=\n"
    "01FILENAME=\n"
    "01KIND=\n"
    "01DELETEDAY=0\n"
)


def job_keys(n, src, dst, name="app", kind="log", days="7"):
    return (f"{n:02d}DIRNAMEFROM={src}\n{n:02d}DIRNAMETO={dst}\n"
            f"{n:02d}FILENAME={name}\n{n:02d}KIND={kind}\n"
            f"{n:02d}DELETEDAY={days}\n")


class RunSpineTest(ProgramTestCase):
    def run_due_job(self, source_folder):
        """Runs a job whose rotation is due, with its file in place."""
        make_file(os.path.join(source_folder, "app.log"))
        return self.run_program()

    def test_first_run_writes_the_template(self):
        result = self.run_program()
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, "")
        self.assertEqual(self.ini_text(), TEMPLATE)

    def test_ninety_eight_jobs_run_and_the_ninety_ninth_is_never_read(self):
        jobs = "".join(job_keys(n, self.path("src"), self.path(f"dst{n}"))
                       for n in range(1, 100))
        self.write_ini("[基本]\nTIMESTAMP=20261206\n[設定]\n" + jobs)
        result = self.run_program()
        self.assertEqual(result.status, 0, result.stderr)
        for n in range(1, 99):
            self.assertTrue(os.path.isdir(self.path(f"dst{n}")), n)
        self.assertFalse(os.path.exists(self.path("dst99")))

    def test_an_empty_source_folder_ends_the_list_at_job_three(self):
        jobs = (job_keys(1, self.path("s"), self.path("d1")) +
                job_keys(2, self.path("s"), self.path("d2")) +
                "03DIRNAMETO=" + self.path("d3") + "\n" +
                job_keys(4, self.path("s"), self.path("d4")))
        self.write_ini("[基本]\nTIMESTAMP=20261206\n[設定]\n" + jobs)
        result = self.run_program()
        self.assertEqual(result.status, 0, result.stderr)
        self.assertTrue(os.path.isdir(self.path("d2")))
        self.assertFalse(os.path.exists(self.path("d3")))
        self.assertFalse(os.path.exists(self.path("d4")))
        text = self.ini_text()
        self.assertNotIn("03DIRNAMEFROM", text)
        self.assertNotIn("03FILENAME", text)

    def test_switches_and_retention_days_are_normalised(self):
        cases = [
            # (key line in the file, line expected afterwards)
            ("BACKUP=yes", "BACKUP=On"),
            ("BACKUP=Off", "BACKUP=Off"),
            ("MESSAGE=on", "MESSAGE=Off"),
            ("TIMESTAMP=00000000", "TIMESTAMP=00000000"),
            ("TIMESTAMP=20200101", "TIMESTAMP=20261206"),
        ]
        for line, expected in cases:
            with self.subTest(line=line):
                self.write_ini("[基本]\n" + line + "\n[設定]\n" +
                               job_keys(1, self.path("s"), self.path("d")))
                if line.startswith("TIMESTAMP"):
                    result = self.run_due_job(self.path("s"))
                else:
                    result = self.run_program()
                self.assertEqual(result.status, 0, result.stderr)
                self.assertIn(expected + "\n", self.ini_text())
        for days, expected in [("10000", "0"), ("-3", "0"), ("abc", "0"),
                               ("0", "0"), ("", "0"), ("9999", "9999"),
                               ("7days", "7days")]:
            with self.subTest(days=days):
                self.write_ini("[基本]\nTIMESTAMP=20261206\n[設定]\n" +
                               job_keys(1, self.path("s"), self.path("d"),
                                        days=days))
                self.run_program()
                self.assertIn("01DELETEDAY=" + expected + "\n",
                              self.ini_text())

    def test_kind_must_hold_a_star_or_three_bytes(self):
        for kind, usable in [("log", True), ("*", True), ("jpeg", False),
                             ("lg", False), ("", False), ("ログ", False)]:
            with self.subTest(kind=kind):
                self.write_ini("[基本]\nTIMESTAMP=20261206\n[設定]\n" +
                               job_keys(1, self.path("s"), self.path("d1"),
                                        kind=kind) +
                               job_keys(2, self.path("s"), self.path("d2")))
                if os.path.isdir(self.path("d2")):
                    os.rmdir(self.path("d2"))
                self.run_program()
                self.assertEqual(os.path.isdir(self.path("d2")), usable)
                expected = kind if usable else ""
                self.assertIn("01KIND=" + expected + "\n", self.ini_text())

    def test_message_on_says_the_run_is_done_once(self):
        self.write_ini("[基本]\nMESSAGE=On\n")
        result = self.run_program()
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stdout, "完了しました。\n")

    def test_a_cp932_file_stays_cp932_and_names_its_folders(self):
        folder = self.path("ログ表示")
        text = ("; 設定ファイル\r\n[基本]\r\nTIMESTAMP=20200101\r\n"
                "[設定]\r\n" + job_keys(1, self.path("元"), folder)
                .replace("\n", "\r\n"))
        self.write_ini(text, encoding="cp932")
        result = self.run_due_job(self.path("元"))
        self.assertEqual(result.status, 0, result.stderr)
        self.assertTrue(os.path.isdir(folder))
        expected = text.replace(
            "TIMESTAMP=20200101\r\n",
            "TIMESTAMP=20261206\r\nVIEW=Off\r\nMESSAGE=Off\r\n")
        self.assertEqual(self.ini_bytes(), expected.encode("cp932"))

    def test_view_on_waits_and_closes_at_the_end_of_input(self):
        self.write_ini("[基本]\nVIEW=On\nTIMESTAMP=20200101\n")
        result = self.run_program(stdin=b"")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertIn("INIファイルに設定されている処理を実行します",
                      result.stdout)
        self.assertEqual(self.ini_text(),
                         "[基本]\nVIEW=On\nTIMESTAMP=20200101\n")

        result = self.run_program(stdin=b"\n")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertIn("TIMESTAMP=20261206\n", self.ini_text())
        self.assertIn("VIEW=On\n", self.ini_text())

    def test_a_settings_file_that_cannot_be_saved_fails_the_run(self):
        os.mkdir(self.path("Dravelkent.ini"))
        result = self.run_program()
        self.assertEqual(result.status, 1)
        self.assertIn("Dravelkent.ini", result.stderr)

    def test_arguments(self):
        version = os.environ.get("DRAVELKENT_VERSION", "")
        self.assertTrue(version, "DRAVELKENT_VERSION is the build's version")
        result = self.run_program(args=["--version"])
        self.assertEqual((result.status, result.stdout),
                         (0, "Dravelkent Version %s\n" % version))
        self.assertFalse(os.path.exists(self.path("Dravelkent.ini")))
        result = self.run_program(args=["--bogus"])
        self.assertEqual(result.status, 2)
        self.assertFalse(os.path.exists(self.path("Dravelkent.ini")))


if __name__ == "__main__":
    unittest.main()
