#!/usr/bin/env python3
"""Benchmarks dravelkent against the standard tools doing the same work.

Generates its data in a scratch folder, runs each case and its counterpart
alternately over several repetitions, counts the system calls of a tree
copy with strace and measures the peak memory of tree runs, then prints one
table of every figure with its goal and whether it is met.

  bench/run.py                      # full run, scratch folder under /tmp
  bench/run.py --quick              # smaller data, fewer repetitions
  bench/run.py --scratch /dev/shm   # another file system (tmpfs here)
  bench/run.py --cases copy,jobs    # some cases only

Needs: cp, rsync, find, logrotate, strace, GNU time
(tools/packages-bench.txt).
"""

import argparse
import datetime
import os
import shutil
import sys
import tempfile
import time

from benchlib import (GNU_TIME, alternate, date_text, file_system_type,
                      globs_before, make_empty_files, make_link_tree,
                      make_tree, peak_kib, remove, run_timed, strace_counts,
                      sync, today, write_ini)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_BIN = os.path.join(ROOT, "build", "dravelkent")
ALL_CASES = ["copy", "syscalls", "recopy", "expiry", "jobs", "memory"]

# Goals: the highest ratio of our time to the counterpart's.
COPY_GOAL_DISK = 1.0    # against cp -a followed by sync
COPY_GOAL_TMPFS = 0.9   # against cp -a, where a flush costs nothing
RECOPY_GOAL = 0.35      # against rsync -a
EXPIRY_GOAL = 0.8       # against find -delete
JOBS_GOAL = 1.2         # against logrotate
SYSCALLS_GOAL = 12      # per file of a first copy, as root
GETEUID_GOAL = 1        # geteuid calls in a run
MEMORY_GOAL = 1.1       # peak at 100 000 files over the peak at 10 000


class Sizes:
    """How much data a run makes."""

    def __init__(self, quick):
        self.tree_files = 2000 if quick else 10000
        self.tree_folders = 20 if quick else 100
        self.tree_bytes = (40 if quick else 200) * 1000 * 1000
        self.expiry_copies = 20000 if quick else 100000
        self.jobs = 98
        self.memory_files = (2000, 20000) if quick else (10000, 100000)
        self.reps = 3 if quick else 5
        self.fast_reps = 10 if quick else 21


def count(n):
    """|n| with a space between thousands: 10 000."""
    return "{:,}".format(n).replace(",", " ")


class Bench:
    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.sizes = Sizes(args.quick)
        if args.reps:
            self.sizes.reps = args.reps
        self.scratch = tempfile.mkdtemp(prefix="dravelkent-bench-",
                                        dir=args.scratch)
        self.tmpfs = file_system_type(self.scratch) == "tmpfs"
        self.rows = []
        self.tree_made = False
        self.verbose = args.verbose

    def folder(self, *names):
        return os.path.join(self.scratch, *names)

    def row(self, case, ours, counterpart, theirs, figure, goal, met):
        self.rows.append((case, ours, counterpart, theirs, figure, goal,
                          met))
        print("%s: %s%s (goal %s) %s" %
              (case, figure, " (%s, %s %s)" % (ours, counterpart, theirs)
               if counterpart else "", goal,
               {True: "met", False: "NOT met", None: ""}[met]), flush=True)

    def timed_row(self, case, ours_t, counterpart, theirs_t, goal, samples):
        ratio = ours_t / theirs_t
        self.row(case, seconds(ours_t), counterpart, seconds(theirs_t),
                 ratio_text(ratio), "<= %.2fx" % goal, ratio <= goal)
        if self.verbose:
            for label in ("ours", "theirs"):
                print("    %-6s %s" % (label, " ".join(
                    "%.4f" % t for t in samples[label])), flush=True)

    def ensure_tree(self):
        top = self.folder("tree")
        if not self.tree_made:
            s = self.sizes
            t0 = time.perf_counter()
            make_tree(top, s.tree_files, s.tree_folders, s.tree_bytes)
            sync()
            self.tree_made = True
            print("made %d files in %d folders, %.0f MB, in %.1f s" %
                  (s.tree_files, s.tree_folders, s.tree_bytes / 1e6,
                   time.perf_counter() - t0), flush=True)
        return top

    def tree_label(self):
        s = self.sizes
        return "%s files, %.0f MB" % (count(s.tree_files), s.tree_bytes / 1e6)

    def copy_job(self, name, source, target):
        """Makes the folder |name| with the settings of a tree copy job;
        returns it."""
        work = self.folder(name)
        os.makedirs(work, exist_ok=True)
        write_ini(work, {"VIEW": "Off", "BACKUP": "On", "MESSAGE": "Off",
                         "TIMESTAMP": "00000000"},
                  [{"DIRNAMEFROM": source, "DIRNAMETO": target,
                    "FILENAME": "*", "KIND": "*", "DELETEDAY": 0}])
        return work

    # First copy of the tree. Our run leaves every file on the disk; cp -a
    # leaves them in the page cache, so on a disk it is followed by sync.
    # Each run writes a fresh folder and all are removed at the end:
    # removing files between runs sets the disk to work (discards) while
    # the next run is timed, and ext4 without a journal passes over
    # recently freed inodes when it makes new files (bench/RESULTS.md).
    def case_copy(self):
        tree = self.ensure_tree()
        made = []

        def side(label, run):
            state = {}

            def prepare():
                dst = self.folder("copy-%s-%d" % (label, len(made)))
                made.append(dst)
                state["dst"] = dst
                if label == "ours":
                    state["work"] = self.copy_job("job-copy-%d" % len(made),
                                                  tree, dst)

            return prepare, lambda: run(state)

        if self.tmpfs:
            name, goal = "cp -a", COPY_GOAL_TMPFS
            theirs = ["cp", "-a", tree]
        else:
            name, goal = "cp -a; sync", COPY_GOAL_DISK
            theirs = ["sh", "-c", 'cp -a "$0" "$1" && sync', tree]
        ours_t, theirs_t, samples = alternate(
            self.sizes.reps,
            side("ours", lambda state: run_timed([self.bin],
                                                 cwd=state["work"])),
            side("cp", lambda state: run_timed(theirs + [state["dst"]])))
        self.timed_row("first copy (%s)" % self.tree_label(), ours_t, name,
                       theirs_t, goal, samples)
        for path in made:
            remove(path)
        sync()

    # System calls of a first copy and of the unchanged run after it, less
    # those of a run over an empty tree.
    def case_syscalls(self):
        tree = self.ensure_tree()
        files = self.sizes.tree_files
        empty = self.folder("empty-src")
        os.makedirs(empty, exist_ok=True)
        fixed = strace_counts(
            [self.bin], self.copy_job("job-empty", empty,
                                      self.folder("empty-dst")))
        work = self.copy_job("job-strace", tree, self.folder("strace-dst"))
        first = strace_counts([self.bin], work)
        again = strace_counts([self.bin], work)
        root = os.geteuid() == 0
        for label, calls, goal in (("first copy", first, SYSCALLS_GOAL),
                                   ("unchanged run", again, None)):
            per_file = (sum(calls.values()) - sum(fixed.values())) / files
            each = sorted(((calls[c] - fixed.get(c, 0)) / files, c)
                          for c in calls)
            print("  per file, %s: %s" % (label, ", ".join(
                "%s %.2f" % (c, n) for n, c in reversed(each) if n >= 0.01)))
            if goal is None:
                self.row("system calls per file, " + label, "", None, None,
                         "%.2f" % per_file, "printed", None)
            else:
                self.row("system calls per file, %s (%s)" %
                         (label, self.tree_label()), "", None, None,
                         "%.2f" % per_file,
                         "<= %d%s" % (goal, "" if root else " as root"),
                         per_file <= goal if root else None)
        most = max(c.get("geteuid", 0) for c in (fixed, first, again))
        self.row("geteuid calls in a run", "", None, None, str(most),
                 "= %d" % GETEUID_GOAL, most == GETEUID_GOAL)
        remove(self.folder("strace-dst"))

    # Second copy run over the unchanged tree against rsync -a.
    def case_recopy(self):
        tree = self.ensure_tree()
        dst_ours = self.folder("recopy-ours")
        dst_rsync = self.folder("recopy-rsync")
        work = self.copy_job("job-recopy", tree, dst_ours)
        rsync = ["rsync", "-a", tree + "/", dst_rsync + "/"]
        run_timed([self.bin], cwd=work)
        run_timed(rsync)
        ours_t, theirs_t, samples = alternate(
            self.sizes.reps,
            (lambda: None, lambda: run_timed([self.bin], cwd=work)),
            (lambda: None, lambda: run_timed(rsync)))
        self.timed_row("unchanged rerun (%s)" % self.tree_label(), ours_t,
                       "rsync -a", theirs_t, RECOPY_GOAL, samples)
        remove(dst_ours)
        remove(dst_rsync)

    # Expiry of dated copies of job app/log, one a day, against find
    # -delete with name patterns that take exactly the expired half. The
    # copies run back from a day ahead of today so that half of them lie
    # within the retention days: no retention (at most 9999 days) keeps
    # 50 000 days behind today.
    def case_expiry(self):
        copies = self.sizes.expiry_copies
        days = 30
        now = today()
        # A copy expires when its date plus |days| lies before today.
        first_expired = now - datetime.timedelta(days=days + 1)
        newest = first_expired + datetime.timedelta(days=copies // 2)
        names = ["%sapp.log" % date_text(newest - datetime.timedelta(days=i))
                 for i in range(copies)]
        kept, expired = names[:copies // 2], names[copies // 2:]
        patterns = globs_before(date_text(first_expired +
                                          datetime.timedelta(days=1)),
                                "app.log")
        folders = {"ours": self.folder("expiry-ours"),
                   "theirs": self.folder("expiry-find")}
        src = self.folder("expiry-src")
        os.makedirs(src, exist_ok=True)
        work = self.folder("job-expiry")
        os.makedirs(work, exist_ok=True)
        write_ini(work, {"VIEW": "Off", "BACKUP": "Off", "MESSAGE": "Off",
                         "TIMESTAMP": "00000000"},
                  [{"DIRNAMEFROM": src, "DIRNAMETO": folders["ours"],
                    "FILENAME": "app", "KIND": "log", "DELETEDAY": days}])
        # The job's own rotation moves one file each run, under the name of
        # the last run's date 00000000, which is no date to expire.
        fresh = "00000000app.log"
        for folder in folders.values():
            os.makedirs(folder, exist_ok=True)
            make_empty_files(folder, kept)

        def prepare(side):
            def go():
                make_empty_files(folders[side], expired)
                if side == "ours":
                    remove_file(os.path.join(folders[side], fresh))
                    make_empty_files(src, ["app.log"])
            return go

        def check(side):
            left = set(os.listdir(folders[side])) - {fresh}
            if left != set(kept):
                sys.exit("benchmark: the expiry (%s) left %d files, not the "
                         "%d kept" % (side, len(left), len(kept)))

        def ours():
            result = run_timed([self.bin], cwd=work)
            check("ours")
            return result

        find = ["find", folders["theirs"], "-maxdepth", "1", "("]
        for pattern in patterns:
            find += ["-name", pattern, "-o"]
        find[-1:] = [")", "-delete"]

        def theirs():
            result = run_timed(find)
            check("theirs")
            return result

        ours_t, theirs_t, samples = alternate(
            self.sizes.reps, (prepare("ours"), ours),
            (prepare("theirs"), theirs))
        self.timed_row("expiry of %s dated copies, half expired" %
                       count(copies), ours_t, "find -delete", theirs_t,
                       EXPIRY_GOAL, samples)
        for folder in folders.values():
            remove(folder)

    # A run of 98 jobs with nothing due against logrotate over 98 logs.
    def case_jobs(self):
        n = self.sizes.jobs
        logs = self.folder("logs")
        os.makedirs(logs, exist_ok=True)
        work = self.folder("job-98")
        os.makedirs(work, exist_ok=True)
        jobs = []
        conf = []
        for i in range(1, n + 1):
            with open(os.path.join(logs, "app%02d.log" % i), "w") as out:
                out.write("line\n")
            jobs.append({"DIRNAMEFROM": logs,
                         "DIRNAMETO": self.folder("archive", "j%02d" % i),
                         "FILENAME": "app%02d" % i, "KIND": "log",
                         "DELETEDAY": 7})
            conf.append("%s {\n    daily\n    rotate 7\n    missingok\n"
                        "    notifempty\n}\n" %
                        os.path.join(logs, "app%02d.log" % i))
        write_ini(work, {"VIEW": "Off", "BACKUP": "Off", "MESSAGE": "Off",
                         "TIMESTAMP": date_text(today())}, jobs)
        conf_path = self.folder("logrotate.conf")
        with open(conf_path, "w") as out:
            out.write("".join(conf))
        state = self.folder("logrotate.state")
        logrotate = shutil.which("logrotate") or "/usr/sbin/logrotate"
        argv = [logrotate, "-s", state, conf_path]
        run_timed(argv)  # records every log as rotated now
        ours_t, theirs_t, samples = alternate(
            self.sizes.fast_reps,
            (lambda: None, lambda: run_timed([self.bin], cwd=work)),
            (lambda: None, lambda: run_timed(argv)))
        self.timed_row("%d jobs, nothing due" % n, ours_t, "logrotate",
                       theirs_t, JOBS_GOAL, samples)
        if sorted(os.listdir(logs)) != ["app%02d.log" % i
                                        for i in range(1, n + 1)]:
            sys.exit("benchmark: something was rotated")

    # Peak memory of a first copy and of the unchanged run after it, on
    # trees of the same shape with ten times as many files.
    def case_memory(self):
        peaks = []
        for files in self.sizes.memory_files:
            t0 = time.perf_counter()
            tree = self.folder("mem-tree")
            make_link_tree(tree, self.folder("mem-originals"), files)
            sync()
            work = self.copy_job("job-mem", tree, self.folder("mem-dst"))
            first = peak_kib([self.bin], cwd=work)
            again = peak_kib([self.bin], cwd=work)
            print("  peak at %s files: first copy %.1f MiB, unchanged run "
                  "%.1f MiB (%.0f s)" % (count(files), first / 1024,
                                         again / 1024,
                                         time.perf_counter() - t0),
                  flush=True)
            peaks.append(max(first, again))
            for name in ("mem-tree", "mem-originals", "mem-dst", "job-mem"):
                remove(self.folder(name))
        small, big = self.sizes.memory_files
        ratio = peaks[1] / peaks[0]
        self.row("peak memory, %s / %s files" % (count(big), count(small)),
                 "%.1f MiB" % (peaks[1] / 1024),
                 "ours at %s files" % count(small),
                 "%.1f MiB" % (peaks[0] / 1024), ratio_text(ratio),
                 "<= %.2fx" % MEMORY_GOAL, ratio <= MEMORY_GOAL)

    def summary(self):
        print()
        print("| case | ours | counterpart | theirs | figure | goal | met |")
        print("|---|---|---|---|---|---|---|")
        for case, ours, name, theirs, figure, goal, met in self.rows:
            print("| %s | %s | %s | %s | %s | %s | %s |" %
                  (case, ours, name or "", theirs or "", figure, goal,
                   {True: "yes", False: "**no**", None: ""}[met]))


def ratio_text(r):
    """|r| with the digits that can tell it from a goal of two decimals."""
    return ("%.3fx" if r < 10 else "%.1fx") % r


def seconds(t):
    return "%.1f ms" % (t * 1000) if t < 0.1 else "%.3f s" % t


def remove_file(path):
    if os.path.lexists(path):
        os.unlink(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="smaller data and fewer repetitions")
    parser.add_argument("--scratch", default=None,
                        help="folder to make the scratch folder in "
                             "(default: the system's temporary folder)")
    parser.add_argument("--bin", default=DEFAULT_BIN,
                        help="the dravelkent program (default: build/)")
    parser.add_argument("--reps", type=int, default=0,
                        help="repetitions of each slow case")
    parser.add_argument("--cases", default=",".join(ALL_CASES),
                        help="comma-separated, of: " + ", ".join(ALL_CASES))
    parser.add_argument("--verbose", action="store_true",
                        help="print every sample")
    parser.add_argument("--keep", action="store_true",
                        help="keep the scratch folder")
    args = parser.parse_args()
    cases = [c for c in args.cases.split(",") if c]
    for c in cases:
        if c not in ALL_CASES:
            parser.error("unknown case " + c)
    if not os.access(args.bin, os.X_OK):
        parser.error("no program at %s (build the default preset first)" %
                     args.bin)
    for tool in ("cp", "rsync", "find", "logrotate", "strace", GNU_TIME):
        if shutil.which(tool) is None and not os.access(
                "/usr/sbin/" + tool, os.X_OK):
            parser.error("%s is missing (see tools/packages-bench.txt)" % tool)

    bench = Bench(args)
    print("scratch folder %s (%s), %s mode, %d repetitions, load average "
          "%.1f" % (bench.scratch, "tmpfs" if bench.tmpfs else "disk",
                    "quick" if args.quick else "full", bench.sizes.reps,
                    os.getloadavg()[0]), flush=True)
    t0 = time.perf_counter()
    try:
        for case in cases:
            getattr(bench, "case_" + case)()
    finally:
        if not args.keep:
            shutil.rmtree(bench.scratch, ignore_errors=True)
    bench.summary()
    print("\nwhole benchmark: %.0f s; load average %.1f (the machine's other "
          "work shares its cores)" % (time.perf_counter() - t0,
                                      os.getloadavg()[0]))


if __name__ == "__main__":
    main()
