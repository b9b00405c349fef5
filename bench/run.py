#!/usr/bin/env python3
"""Benchmarks dravelkent against the standard tools doing the same work.

Generates its data in a scratch folder, then runs each case and its
counterpart alternately over several repetitions and prints the median wall
time of each, the ratio ours/theirs and the peak memory (maximum resident
set of the child process). It also counts the system calls per file of the
unchanged second copy run with strace.

  bench/run.py                      # full run, scratch folder under /tmp
  bench/run.py --quick              # smaller data, fewer repetitions
  bench/run.py --scratch /dev/shm   # another file system (tmpfs here)
  bench/run.py --cases copy,jobs    # some cases only

Needs: cp, rsync, find, logrotate, strace (tools/packages-bench.txt).
"""

import argparse
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import time

from benchlib import (GNU_TIME, alternate, make_tree, median_time, peak_kib,
                      remove, run_timed, strace_counts, sync, today_text,
                      write_ini)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_BIN = os.path.join(ROOT, "build", "dravelkent")
ALL_CASES = ["copy", "recopy", "move", "expiry", "jobs", "memory"]

# The floor of a move run: create the folders and rename each file.
RENAME_FLOOR = r"""
import os, sys
src, dst = sys.argv[1], sys.argv[2]
for folder, dirs, files in os.walk(src):
    out = os.path.join(dst, os.path.relpath(folder, src))
    os.makedirs(out, exist_ok=True)
    for name in files:
        os.rename(os.path.join(folder, name), os.path.join(out, name))
"""


class Sizes:
    """How much data a run makes."""

    def __init__(self, quick):
        self.tree_files = 2000 if quick else 10000
        self.tree_folders = 20 if quick else 100
        self.tree_bytes = (40 if quick else 200) * 1000 * 1000
        self.expiry_copies = 20000 if quick else 100000
        self.jobs = 98
        self.memory_files = 20000 if quick else 100000
        self.reps = 3 if quick else 5
        self.fast_reps = 10 if quick else 21


# ---------------------------------------------------------------- cases

class Bench:
    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.sizes = Sizes(args.quick)
        if args.reps:
            self.sizes.reps = args.reps
        self.scratch = tempfile.mkdtemp(prefix="dravelkent-bench-",
                                        dir=args.scratch)
        self.rows = []
        self.notes = []
        self.tree = None
        self.verbose = args.verbose

    def report(self, case, samples, theirs_name, goal):
        ours_t = median_time(samples["ours"])
        theirs_t = median_time(samples["theirs"])
        ratio = ours_t / theirs_t
        row = (case, ours_t, theirs_name, theirs_t, ratio, goal,
               peak_kib(samples["ours"]), peak_kib(samples["theirs"]))
        self.rows.append(row)
        print("%-34s ours %8.4f s  %-16s %8.4f s  ratio %5.2f (goal <= %.2f)"
              "  peak %6.1f MiB / %6.1f MiB" %
              (case, ours_t, theirs_name, theirs_t, ratio, goal,
               row[6] / 1024, row[7] / 1024), flush=True)
        if self.verbose:
            for label in ("ours", "theirs"):
                print("    %-6s %s" % (label, " ".join(
                    "%.4f" % t for t, _ in samples[label])), flush=True)

    def folder(self, *names):
        return os.path.join(self.scratch, *names)

    def ensure_tree(self):
        if self.tree is None:
            top = self.folder("tree")
            s = self.sizes
            t0 = time.perf_counter()
            self.tree = make_tree(top, s.tree_files, s.tree_folders,
                                  s.tree_bytes)
            sync()
            print("made %d files in %d folders, %.0f MB, in %.1f s" %
                  (s.tree_files, s.tree_folders, s.tree_bytes / 1e6,
                   time.perf_counter() - t0), flush=True)
        return self.folder("tree")

    def copy_job_folder(self, name, source, target, days=0):
        work = self.folder(name)
        os.makedirs(work, exist_ok=True)
        write_ini(work, {"VIEW": "Off", "BACKUP": "On", "MESSAGE": "Off",
                         "TIMESTAMP": "00000000"},
                  [{"DIRNAMEFROM": source, "DIRNAMETO": target,
                    "FILENAME": "*", "KIND": "*", "DELETEDAY": days}])
        return work

    def ours(self, work):
        return lambda: run_timed([self.bin], cwd=work)

    # First copy of the tree against cp -a. Each run writes a fresh folder
    # and all are removed at the end: removing 200 MB between runs sets the
    # disk to work (discards, journal) while the next run is timed.
    def case_copy(self):
        tree = self.ensure_tree()
        made = []

        def side(label, run):
            state = {"n": 0}

            def prepare():
                state["n"] += 1
                state["dst"] = self.folder("copy-%s-%d" % (label, state["n"]))
                made.append(state["dst"])

            return prepare, lambda: run(state["dst"])

        def ours(dst):
            work = self.copy_job_folder("job-copy-" + os.path.basename(dst),
                                        tree, dst)
            return run_timed([self.bin], cwd=work)

        samples = alternate(
            self.sizes.reps, side("ours", ours),
            side("cp", lambda dst: run_timed(["cp", "-a", tree, dst])))
        self.report("first copy of the tree", samples, "cp -a", 1.0)
        for path in made:
            remove(path)
        sync()

    # Second copy run over the unchanged tree against rsync -a.
    def case_recopy(self):
        tree = self.ensure_tree()
        dst_ours = self.folder("recopy-ours")
        dst_rsync = self.folder("recopy-rsync")
        work = self.copy_job_folder("job-recopy", tree, dst_ours)
        remove(dst_ours)
        run_timed([self.bin], cwd=work)
        run_timed(["rsync", "-a", tree + "/", dst_rsync + "/"])
        samples = alternate(
            self.sizes.reps,
            (lambda: None, self.ours(work)),
            (lambda: None,
             lambda: run_timed(["rsync", "-a", tree + "/", dst_rsync + "/"])))
        self.report("unchanged second copy run", samples, "rsync -a", 0.5)
        self.count_syscalls(work, len(self.tree))
        remove(dst_rsync)

    def count_syscalls(self, work, files):
        """strace -c -f of the unchanged run, and of a run over an empty
        tree for the fixed cost."""
        empty_src = self.folder("empty-src")
        os.makedirs(empty_src, exist_ok=True)
        empty_work = self.copy_job_folder("job-empty", empty_src,
                                          self.folder("empty-dst"))
        tree_calls = strace_counts(self.bin, work)
        fixed_calls = strace_counts(self.bin, empty_work)
        total = sum(tree_calls.values())
        fixed = sum(fixed_calls.values())
        listing = tree_calls.get("getdents64", 0)
        per_file = (total - fixed) / files
        beyond = (total - fixed - listing) / files
        top = sorted(tree_calls.items(), key=lambda kv: -kv[1])[:8]
        line = ("system calls, unchanged run: %d in all, %d fixed, %.2f per "
                "file, %.2f per file beyond getdents64 (goal <= 3); top: %s" %
                (total, fixed, per_file, beyond,
                 ", ".join("%s %d" % kv for kv in top)))
        print(line, flush=True)
        self.notes.append(line)
        self.syscalls = (per_file, beyond, top)

    # Move run within one file system against the rename floor.
    def case_move(self):
        tree = self.ensure_tree()
        src = {"ours": self.folder("move-src-ours"),
               "theirs": self.folder("move-src-floor")}
        dst = {"ours": self.folder("move-dst-ours"),
               "theirs": self.folder("move-dst-floor")}
        work = self.folder("job-move")
        os.makedirs(work, exist_ok=True)
        write_ini(work, {"VIEW": "Off", "BACKUP": "Off", "MESSAGE": "Off",
                         "TIMESTAMP": "00000000"},
                  [{"DIRNAMEFROM": src["ours"], "DIRNAMETO": dst["ours"],
                    "FILENAME": "*", "KIND": "*", "DELETEDAY": 0}])

        def prepare(side):
            def go():
                remove(src[side])
                remove(dst[side])
                # Hard links: the same names and shape, no data copied.
                subprocess.run(["cp", "-al", tree, src[side]], check=True)
            return go

        samples = alternate(
            self.sizes.reps,
            (prepare("ours"), self.ours(work)),
            (prepare("theirs"),
             lambda: run_timed([sys.executable, "-c", RENAME_FLOOR,
                                src["theirs"], dst["theirs"]])))
        self.report("move of the tree", samples, "rename floor", 1.5)
        for side in ("ours", "theirs"):
            remove(src[side])
            remove(dst[side])

    # Expiry of dated copies, half of them expired, against find -delete.
    def case_expiry(self):
        count = self.sizes.expiry_copies
        today = datetime.date.today()
        expired = ["%sapp-%06d.log" %
                   ((datetime.date(2019, 1, 1) +
                     datetime.timedelta(days=i % 365)).strftime("%Y%m%d"), i)
                   for i in range(count // 2)]
        kept = ["%sapp-%06d.log" %
                ((today - datetime.timedelta(days=i % 20)).strftime("%Y%m%d"),
                 i) for i in range(count // 2, count)]
        folders = {"ours": self.folder("expiry-ours"),
                   "theirs": self.folder("expiry-find")}
        src = self.folder("expiry-src")
        os.makedirs(src, exist_ok=True)
        work = self.folder("job-expiry")
        os.makedirs(work, exist_ok=True)
        write_ini(work, {"VIEW": "Off", "BACKUP": "Off", "MESSAGE": "Off",
                         "TIMESTAMP": "00000000"},
                  [{"DIRNAMEFROM": src, "DIRNAMETO": folders["ours"],
                    "FILENAME": "app", "KIND": "log", "DELETEDAY": 30}])
        for folder in folders.values():
            os.makedirs(folder, exist_ok=True)
            for name in kept:
                open(os.path.join(folder, name), "wb").close()

        def prepare(side):
            def go():
                folder = folders[side]
                for name in expired:
                    open(os.path.join(folder, name), "wb").close()
                if side == "ours":
                    # The job's own rotation moves one file each run.
                    fresh = os.path.join(folder, "00000000app.log")
                    if os.path.exists(fresh):
                        os.unlink(fresh)
                    open(os.path.join(src, "app.log"), "wb").close()
            return go

        def check(side):
            left = len(os.listdir(folders[side]))
            want = len(kept) + (1 if side == "ours" else 0)
            if left != want:
                sys.exit("benchmark: expiry %s left %d files, not %d" %
                         (side, left, want))

        def ours():
            result = run_timed([self.bin], cwd=work)
            check("ours")
            return result

        def theirs():
            result = run_timed(["find", folders["theirs"], "-maxdepth", "1",
                                "-name", "2019*app-*.log", "-delete"])
            check("theirs")
            return result

        samples = alternate(self.sizes.reps, (prepare("ours"), ours),
                            (prepare("theirs"), theirs))
        self.report("expiry of %d dated copies" % count, samples,
                    "find -delete", 1.0)
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
                         "TIMESTAMP": today_text()}, jobs)
        conf_path = self.folder("logrotate.conf")
        with open(conf_path, "w") as out:
            out.write("".join(conf))
        state = self.folder("logrotate.state")
        logrotate = shutil.which("logrotate") or "/usr/sbin/logrotate"
        argv = [logrotate, "-s", state, conf_path]
        run_timed(argv)  # records every log as rotated now
        run_timed([self.bin], cwd=work)  # makes the target folders
        # A run takes milliseconds: time it without GNU time in between,
        # and take the peak memory from one more run of each.
        samples = alternate(
            self.sizes.fast_reps,
            (lambda: None,
             lambda: run_timed([self.bin], cwd=work, memory=False)),
            (lambda: None, lambda: run_timed(argv, memory=False)))
        for label, peak in (("ours", self.ours(work)()[1]),
                            ("theirs", run_timed(argv)[1])):
            samples[label] = [(t, peak) for t, _ in samples[label]]
        self.report("98 jobs, nothing due", samples, "logrotate", 1.0)
        if sorted(os.listdir(logs)) != ["app%02d.log" % i
                                        for i in range(1, n + 1)]:
            sys.exit("benchmark: something was rotated")

    # Peak memory of tree runs at the tree size and at many more files.
    def case_memory(self):
        tree = self.ensure_tree()
        big = self.folder("big-tree")
        files = self.sizes.memory_files
        t0 = time.perf_counter()
        # Hard links to a few small files: as many names to transfer as
        # real files, made in a fraction of the time.
        originals = self.folder("big-originals")
        os.makedirs(originals, exist_ok=True)
        for j in range(200):
            with open(os.path.join(originals, "o%03d" % j), "wb") as out:
                out.write(b"x" * (j * 10))
        for i in range(files):
            folder = os.path.join(big, "d%02d" % (i % 10),
                                  "e%04d" % (i % 1000))
            if i < 1000:
                os.makedirs(folder, exist_ok=True)
            os.link(os.path.join(originals, "o%03d" % (i % 200)),
                    os.path.join(folder, "f%06d.dat" % i))
        sync()
        print("made %d small files in %.1f s" %
              (files, time.perf_counter() - t0), flush=True)
        results = []
        for label, source, count in (("tree", tree, len(self.tree)),
                                     ("big", big, files)):
            dst = self.folder("mem-" + label)
            work = self.copy_job_folder("job-mem-" + label, source, dst)
            remove(dst)
            copy_t, copy_k = run_timed([self.bin], cwd=work)
            again_t, again_k = run_timed([self.bin], cwd=work)
            move_src = self.folder("mem-move-" + label)
            subprocess.run(["cp", "-al", source, move_src], check=True)
            move_work = self.folder("job-mem-move-" + label)
            os.makedirs(move_work, exist_ok=True)
            write_ini(move_work, {"VIEW": "Off", "BACKUP": "Off",
                                  "MESSAGE": "Off", "TIMESTAMP": "00000000"},
                      [{"DIRNAMEFROM": move_src,
                        "DIRNAMETO": self.folder("mem-moved-" + label),
                        "FILENAME": "*", "KIND": "*", "DELETEDAY": 0}])
            move_t, move_k = run_timed([self.bin], cwd=move_work)
            line = ("peak memory at %6d files: first copy %.1f MiB (%.2f s), "
                    "unchanged run %.1f MiB (%.2f s), move %.1f MiB (%.2f s)"
                    % (count, copy_k / 1024, copy_t, again_k / 1024, again_t,
                       move_k / 1024, move_t))
            print(line, flush=True)
            self.notes.append(line)
            results.append(max(copy_k, again_k, move_k))
            for path in (dst, move_src, self.folder("mem-moved-" + label)):
                remove(path)
        self.memory = results
        remove(big)
        remove(originals)

    def summary(self):
        print()
        print("| case | ours (s) | counterpart | theirs (s) | ratio | goal "
              "| peak ours (MiB) | peak theirs (MiB) |")
        print("|---|---|---|---|---|---|---|---|")
        for case, ot, name, tt, ratio, goal, ok, tk in self.rows:
            print("| %s | %.4f | %s | %.4f | %.2f | <= %.2f %s | %.1f | %.1f |"
                  % (case, ot, name, tt, ratio, goal,
                     "met" if ratio <= goal else "NOT met", ok / 1024,
                     tk / 1024))
        for note in self.notes:
            print("- " + note)


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
    for tool in ("cp", "rsync", "find", "strace", GNU_TIME):
        if shutil.which(tool) is None:
            parser.error("%s is missing (see tools/packages-bench.txt)" % tool)

    bench = Bench(args)
    print("scratch folder %s, %s mode, %d repetitions" %
          (bench.scratch, "quick" if args.quick else "full",
           bench.sizes.reps), flush=True)
    t0 = time.perf_counter()
    try:
        for case in cases:
            getattr(bench, "case_" + case)()
    finally:
        if not args.keep:
            shutil.rmtree(bench.scratch, ignore_errors=True)
    bench.summary()
    print("\nwhole benchmark: %.0f s" % (time.perf_counter() - t0))


if __name__ == "__main__":
    main()
