"""One crash trial's data: the folders, the settings file, the files a run
is to move or copy, and every place each of them may be found afterwards."""

import os
import re
import shutil
import tempfile

TODAY = "2026-12-06"
TODAY_TEXT = "20261206"
LAST_RUN = "20261205"
INI = "Dravelkent.ini"

# The program's own temporary names, of copies and settings saves alike.
# Nothing else may be left behind.
OWN_TEMPORARY = re.compile(r"^\.dravelkent-[0-9a-f]{16}\.tmp$")

SIZES = (0, 1, 4096, 200_000, 1_500_000, 6_000_000)

# Temporary files of the program's own forms, as a killed run leaves them.
PLANTED = (".dravelkent-0123456789abcdef.tmp",)


def is_own_temporary(name):
    return OWN_TEMPORARY.match(name) is not None


class Item:
    """A file or link of the source; |places| are its paths in the order
    the run carries it there: the source first, the final place last."""

    def __init__(self, places, data=None, link=None, mtime_ns=0):
        self.places = places
        self.data = data
        self.link = link
        self.mtime_ns = mtime_ns

    def make(self):
        path = self.places[0]
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if self.link is not None:
            os.symlink(self.link, path)
        else:
            with open(path, "wb") as f:
                f.write(self.data)
        os.utime(path, ns=(self.mtime_ns, self.mtime_ns),
                 follow_symlinks=False)

    def intact_at(self, path):
        """Returns None when |path| holds the item whole, else what is
        wrong with it."""
        try:
            st = os.lstat(path)
        except FileNotFoundError:
            return "missing"
        if self.link is not None:
            if not os.path.islink(path) or os.readlink(path) != self.link:
                return "not the link it should be"
        else:
            if os.path.islink(path):
                return "a link where a file should be"
            with open(path, "rb") as f:
                data = f.read()
            if len(data) < len(self.data):
                return (f"shorter than its source "
                        f"({len(data)} < {len(self.data)})")
            if data != self.data:
                return "differs from its source"
        if st.st_mtime_ns != self.mtime_ns:
            return f"mtime {st.st_mtime_ns} instead of {self.mtime_ns}"
        return None


class Fixed:
    """A file in a target folder before the run: it stays whole (one of
    |contents|), or is gone when |may_go| (an expired dated copy)."""

    def __init__(self, path, contents, may_go, must_go_when_done=False):
        self.path = path
        self.mtime_ns = 1_600_000_000_000_000_000  # older than any source
        self.contents = contents
        self.may_go = may_go
        self.must_go_when_done = must_go_when_done


class Scenario:
    """The folders and settings of one trial and the items of its run."""

    def __init__(self, rng, mode, shape, cross, retention, encoding,
                 shm_root):
        self.rng = rng
        self.mode = mode            # "move" or "copy"
        self.shape = shape          # "file", "tree" or "chain"
        self.cross = cross          # source on another file system
        self.retention = retention  # 0 or 7
        self.encoding = encoding    # "utf-8", "utf-8-sig" or "cp932"
        self.dir = tempfile.mkdtemp(prefix="dravelkent-crash-")
        self.shm_dir = (tempfile.mkdtemp(prefix="dravelkent-crash-",
                                         dir=shm_root) if cross else None)
        self.src = os.path.join(self.shm_dir or self.dir, "src")
        self.mid = os.path.join(self.dir, "mid")
        self.dst = os.path.join(self.dir, "dst")
        for folder in (self.src, self.dst):
            os.makedirs(folder)
        if shape == "chain":
            os.makedirs(self.mid)
        self.items = []
        self.fixed = []
        self.planted = set()
        self.settings = {}
        self.ini_lines = []

    def label(self):
        where = "/dev/shm to /tmp" if self.cross else "one file system"
        return (f"{self.mode} {self.shape}, {where}, "
                f"DELETEDAY={self.retention}, {self.encoding}")

    def areas(self):
        """The folders whose every entry the checks account for."""
        areas = [self.dir, self.src]
        return areas

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        if self.shm_dir:
            shutil.rmtree(self.shm_dir, ignore_errors=True)

    # Data

    def random_data(self, big=True):
        size = self.rng.choice(SIZES if big else SIZES[:4])
        return self.rng.randbytes(size)

    def random_mtime(self):
        return 1_700_000_000_000_000_000 + self.rng.randrange(10**15)

    def dated(self, name):
        return (TODAY_TEXT if self.retention else "") + name

    def build(self):
        if self.shape == "file":
            self.build_single_file()
        elif self.shape == "tree":
            self.build_tree()
        else:
            self.build_chain()
        for item in self.items:
            item.make()
        # What an earlier killed run left in the folders this run reads
        # from and writes to: it must stay as it is.
        for folder in (self.src, self.mid, self.dst):
            if os.path.isdir(folder):
                for name in PLANTED:
                    path = os.path.join(folder, name)
                    with open(path, "wb") as f:
                        f.write(b"half-written by a run that was killed")
                    self.planted.add(path)
        for fixed in self.fixed:
            with open(fixed.path, "wb") as f:
                f.write(fixed.contents[0])
            os.utime(fixed.path, ns=(fixed.mtime_ns, fixed.mtime_ns))
        self.write_settings()

    def single_file_name(self):
        return (LAST_RUN if self.retention else TODAY_TEXT) + "app.log"

    def build_single_file(self):
        item = self.single_source(
            [os.path.join(self.src, "app.log"),
             os.path.join(self.dst, self.single_file_name())])
        self.items.append(item)
        self.jobs = [(self.src, self.dst, "app", "log")]
        expired = os.path.join(self.dst, "20261120app.log")
        self.fixed.append(Fixed(expired, [b"expired copy"],
                                may_go=bool(self.retention),
                                must_go_when_done=bool(self.retention)))
        self.fixed.append(Fixed(os.path.join(self.dst, "20261203app.log"),
                                [b"recent copy"], may_go=False))
        if self.mode == "copy" and self.retention:
            # The copy of the last run, older than the source: replaced
            # whole or not at all.
            self.fixed.append(Fixed(item.places[-1],
                                    [b"old copy", item.data], may_go=False))

    def build_tree(self):
        names = ["f.dat", "日本語.txt", "with space.log", ".notes"]
        folders = ["", "a", "a/b", "c"]
        for folder in folders:
            for name in self.rng.sample(names, self.rng.randint(1, 3)):
                self.add_tree_item(folder, name, big=folder == "a")
        for folder in self.rng.sample(folders, 2):
            self.add_tree_item(folder, "link", link=self.rng.choice(
                ["f.dat", "../elsewhere", "/nowhere"]))
        self.jobs = [(self.src, self.dst, "*", "*")]

    def add_tree_item(self, folder, name, big=False, link=None):
        parts = [p for p in folder.split("/") if p] + [name]
        source = os.path.join(self.src, *parts)
        final = os.path.join(self.dst, *[self.dated(p) for p in parts])
        data = None if link is not None else self.random_data(big)
        self.items.append(Item([source, final], data=data, link=link,
                               mtime_ns=self.random_mtime()))

    def single_source(self, places):
        """The job's one file; in move mode now and then a link, which a
        move across file systems makes under a temporary name first."""
        if self.mode == "move" and self.rng.random() < 0.3:
            return Item(places, link="/nowhere/app.log",
                        mtime_ns=self.random_mtime())
        return Item(places, data=self.random_data(),
                    mtime_ns=self.random_mtime())

    def build_chain(self):
        middle = os.path.join(self.mid, self.single_file_name())
        final = os.path.join(self.dst, self.dated(self.single_file_name()))
        self.items.append(self.single_source(
            [os.path.join(self.src, "app.log"), middle, final]))
        self.jobs = [(self.src, self.mid, "app", "log"),
                     (self.mid, self.dst, "*", "*")]

    def write_settings(self):
        basic = [("BACKUP", "On" if self.mode == "copy" else "Off"),
                 ("TIMESTAMP", LAST_RUN), ("MEMO", "日本語のメモ")]
        # Missing switches are written back at the start of the run.
        if self.rng.random() < 0.5:
            basic.append(("VIEW", "Off"))
        if self.rng.random() < 0.5:
            basic.append(("MESSAGE", "Off"))
        self.rng.shuffle(basic)
        lines = ["; 設定ファイル", "[基本]"] + [f"{k}={v}" for k, v in basic]
        lines.append("[設定]")
        for number, (src, dst, name, kind) in enumerate(self.jobs, 1):
            for key, value in (("DIRNAMEFROM", src), ("DIRNAMETO", dst),
                               ("FILENAME", name), ("KIND", kind),
                               ("DELETEDAY", str(self.retention))):
                lines.append(f"{number:02d}{key}={value}")
        self.settings = parse_ini("\n".join(lines))
        data = ("\r\n" if self.encoding == "cp932" else "\n").join(lines)
        with open(os.path.join(self.dir, INI), "wb") as f:
            f.write((data + "\n").encode(self.encoding))


def parse_ini(text):
    """Returns {(section, key): value} of a settings text."""
    values = {}
    section = None
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1]
            continue
        key, sep, value = line.partition("=")
        if sep:
            values[(section, key.strip())] = value.strip()
    return values
