"""Folder tree jobs over trees that would trap a careless walk: link loops,
links out of the tree, names that are not text, a target inside the source,
folders that cannot be read, trees deeper than the path limit. The run
finishes, says what it could not handle, loses nothing and writes nothing
outside its target folder."""

import os
import shutil
import stat
import unittest

from e2e_support import INI
from rotation_support import MTIME, RotationTestCase

TODAY = "2026-12-06"
DATE = b"20261206"
NOBODY = 65534


def snapshot(root):
    """Every entry below |root| (bytes paths, relative), walked by folder
    descriptors so that no path limit applies: (kind, content, mtime)."""
    found = {}
    root = os.fsencode(root)
    if not os.path.lexists(root):
        return found
    for top, dirs, files, fd in os.fwalk(root):
        rel_top = os.path.relpath(top, root) if top != root else b""
        for name in dirs + files:
            rel = os.path.join(rel_top, name)
            st = os.lstat(name, dir_fd=fd)
            if stat.S_ISLNK(st.st_mode):
                found[rel] = ("link", os.readlink(name, dir_fd=fd),
                              st.st_mtime_ns)
            elif stat.S_ISDIR(st.st_mode):
                found[rel] = ("folder", None, None)
            else:
                file_fd = os.open(name, os.O_RDONLY, dir_fd=fd)
                with os.fdopen(file_fd, "rb") as f:
                    found[rel] = ("file", f.read(), st.st_mtime_ns)
    return found


def dated_path(rel, dated):
    """The path below the target folder that |rel| is written to."""
    if not dated:
        return rel
    return os.path.join(*[DATE + part for part in rel.split(b"/")])


class HostileTreeTest(RotationTestCase):

    def setUp(self):
        super().setUp()
        self.outside = self.path("outside")
        os.mkdir(self.outside)
        with open(os.path.join(self.outside, "secret.txt"), "wb") as f:
            f.write(b"not part of the tree")

    def make(self, rel, data=b"x", link=None):
        path = os.path.join(os.fsencode(self.src), rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if link is not None:
            os.symlink(link, path)
        else:
            with open(path, "wb") as f:
                f.write(data)
        os.utime(path, ns=(MTIME, MTIME), follow_symlinks=False)

    def everything_but(self, *folders):
        """The scratch folder's entries outside |folders| (relative)."""
        skip = [os.fsencode(os.path.relpath(f, self.dir)) for f in folders]
        return {rel: state for rel, state in snapshot(self.dir).items()
                if rel != b"Dravelkent.ini" and not any(
                    rel == s or rel.startswith(s + b"/") for s in skip)}

    def run_tree_job(self, backup, days, prefix=(), **job):
        if os.path.relpath(self.dst, self.src).startswith(".."):
            shutil.rmtree(self.dst)  # from an earlier round
            os.mkdir(self.dst)
            if prefix:
                os.lchown(self.dst, NOBODY, NOBODY)
        self.configure("20261205", backup=backup, FILENAME="*", KIND="*",
                       DELETEDAY=days, **job)
        if prefix:
            # A settings file its user may not write is never saved.
            os.lchown(self.path(INI), NOBODY, NOBODY)
        before_src = snapshot(self.src)
        before_rest = self.everything_but(self.src, self.dst)
        result = self.run_program(date=TODAY, prefix=prefix)
        # Nothing written, moved or removed outside the source and target.
        self.assertEqual(self.everything_but(self.src, self.dst), before_rest)
        return result, before_src

    def assert_carried(self, before_src, backup, days, unhandled=()):
        """Every file and link of the source is whole in the target, and in
        the source too in copy mode; |unhandled| stayed where it was."""
        after_src = snapshot(self.src)
        after_dst = snapshot(self.dst)
        for rel, state in before_src.items():
            if state[0] == "folder":
                self.assertEqual(after_src.get(rel), state, rel)
                continue
            if any(rel.startswith(u) for u in unhandled):
                self.assertEqual(after_src.get(rel), state, rel)
                continue
            self.assertEqual(after_dst.get(dated_path(rel, days != "0")),
                             state, rel)
            self.assertEqual(after_src.get(rel),
                             state if backup == "On" else None, rel)

    def test_links_loops_and_names_that_are_not_text(self):
        self.make(b"loop", link=b".")
        self.make(b"up", link=b"..")
        self.make(b"out", link=os.fsencode(self.outside))
        self.make(b"root", link=b"/")
        self.make(b"dangling", link=b"nowhere")
        self.make(b"new\nline.txt", b"newline")
        self.make(b"\xff\xfe raw.bin", b"raw")
        self.make(b"\x80 folder/inner\x81\n.txt", b"inner")
        self.make(b"sub/ok.txt", b"ok")
        self.make(b"sub/back", link=b"../sub")
        original = snapshot(self.src)
        for backup in ("On", "Off"):
            for days in ("0", "7"):
                with self.subTest(backup=backup, days=days):
                    shutil.rmtree(self.src, ignore_errors=True)
                    for rel, state in original.items():
                        if state[0] == "file":
                            self.make(rel, state[1])
                        elif state[0] == "link":
                            self.make(rel, link=state[1])
                    result, before = self.run_tree_job(backup, days)
                    self.assertEqual((result.status, result.stderr), (0, ""))
                    self.assert_carried(before, backup, days)

    def test_a_target_inside_the_source_is_left_out(self):
        self.make(b"a.txt", b"a")
        self.make(b"keep/b.txt", b"b")
        self.make(b"keep/backup/old.txt", b"from an earlier run")
        target = os.path.join(self.src, "keep", "backup")
        self.dst = target
        result, _ = self.run_tree_job("Off", "7", DIRNAMETO=target)
        self.assertEqual((result.status, result.stderr), (0, ""))
        after = snapshot(target)
        self.assertEqual(sorted(after), sorted([
            b"old.txt", DATE + b"a.txt", DATE + b"keep",
            DATE + b"keep/" + DATE + b"b.txt"]))
        self.assertEqual(after[b"old.txt"][1], b"from an earlier run")
        self.assertEqual(after[DATE + b"keep/" + DATE + b"b.txt"][1], b"b")

    def test_a_target_that_is_the_source_itself_is_refused(self):
        self.make(b"a.txt", b"a")
        self.make(b"sub/b.txt", b"b")
        for backup in ("On", "Off"):
            with self.subTest(backup=backup):
                self.dst = self.src
                before = snapshot(self.src)
                result, _ = self.run_tree_job(backup, "7", DIRNAMETO=self.src)
                self.assertEqual(result.status, 1)
                self.assertIn("the target folder is the source folder itself",
                              result.stderr)
                self.assertEqual(snapshot(self.src), before)

    def test_a_tree_deeper_than_the_path_limit(self):
        # A chain of folders whose paths pass PATH_MAX, made one at a time.
        fd = os.open(self.src, os.O_RDONLY | os.O_DIRECTORY)
        name = b"d" * 200
        for _ in range(25):
            os.mkdir(name, dir_fd=fd)
            inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
        file_fd = os.open(b"bottom.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
        os.write(file_fd, b"bottom")
        os.close(file_fd)
        os.close(fd)
        for backup in ("Off", "On"):
            with self.subTest(backup=backup):
                if not os.path.exists(os.path.join(self.src, "top.txt")):
                    self.make(b"top.txt", b"top")  # moved by the first round
                result, before = self.run_tree_job(backup, "0")
                # Each folder is reached from its parent: no path is too
                # long, and the whole chain is carried.
                self.assertEqual(result.status, 0, result.stderr)
                self.assert_carried(before, backup, "0")

    def test_a_folder_that_cannot_be_read(self):
        prefix = ()
        if os.geteuid() == 0:
            # Permission bits do not stop root: run as nobody.
            if shutil.which("setpriv") is None:
                self.skipTest("running as root without setpriv")
            prefix = ("setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}",
                      "--clear-groups")
        self.make(b"a.txt", b"a")
        self.make(b"locked/secret.txt", b"secret")
        self.make(b"open/b.txt", b"b")
        locked = os.path.join(self.src, "locked")
        for backup in ("Off", "On"):
            with self.subTest(backup=backup):
                if prefix:
                    os.chmod(self.dir, 0o755)
                    for top, dirs, files in os.walk(self.dir):
                        for name in [top] + [os.path.join(top, n)
                                             for n in dirs + files]:
                            os.lchown(name, NOBODY, NOBODY)
                os.chmod(locked, 0)
                self.addCleanup(os.chmod, locked, 0o755)
                result, before = self.run_tree_job(backup, "0", prefix=prefix)
                os.chmod(locked, 0o755)
                self.assertEqual(result.status, 1, result.stderr)
                self.assertIn(locked, result.stderr)
                self.assertIn("Permission denied", result.stderr)
                self.assert_carried(before, backup, "0",
                                    unhandled=(b"locked/",))

    def test_a_name_with_a_line_break_fails_on_one_line(self):
        self.make(b"two\nlines\x1b[2J.txt", b"new")
        os.makedirs(self.dst, exist_ok=True)
        taken = os.path.join(os.fsencode(self.dst), b"two\nlines\x1b[2J.txt")
        with open(taken, "wb") as f:
            f.write(b"already there")
        self.configure("20261205", FILENAME="*", KIND="*", DELETEDAY="0")
        result = self.run_program(date=TODAY)
        self.assertEqual(result.status, 1)
        self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        self.assertIn("two\\nlines\\x1B[2J.txt", result.stderr)
        with open(taken, "rb") as f:
            self.assertEqual(f.read(), b"already there")

    def test_a_missing_source_folder_is_said(self):
        missing = self.path("gone")
        result, _ = self.run_tree_job("Off", "0", DIRNAMEFROM=missing)
        self.assertEqual(result.status, 1)
        self.assertIn(missing, result.stderr)
        self.assertEqual(os.listdir(self.dst), [])


if __name__ == "__main__":
    unittest.main()
