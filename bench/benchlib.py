"""Running, timing and data making for bench/run.py."""

import datetime
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"


# ---------------------------------------------------------------- running

def run_timed(argv, cwd=None, env=None, memory=True):
    """Runs |argv|; returns (seconds, peak resident KiB or 0). Fails loudly.

    The peak comes from GNU time, which runs the program as its own small
    child: a child forked from this interpreter would report the
    interpreter's resident set as its own peak.
    """
    peak_file = None
    if memory:
        fd, peak_file = tempfile.mkstemp(prefix="peak-")
        os.close(fd)
        argv = [GNU_TIME, "-f", "%M", "-o", peak_file] + list(argv)
    start = time.perf_counter()
    proc = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("benchmark: %s failed (%d): %s" %
                 (" ".join(argv), proc.returncode,
                  proc.stderr.decode(errors="replace")[:2000]))
    peak = 0
    if peak_file:
        with open(peak_file) as text:
            peak = int(text.read().split()[-1])
        os.unlink(peak_file)
    return elapsed, peak


def sync():
    os.sync()


def alternate(reps, ours, theirs):
    """Runs the two sides alternately; each side is (prepare, run) and run
    returns (seconds, KiB). Returns the samples of each."""
    samples = {"ours": [], "theirs": []}
    sides = [("ours", ours), ("theirs", theirs)]
    # One untimed run of each first: the first runs after making the data
    # meet the disk still busy with it.
    for _, (prepare, run) in sides:
        prepare()
        sync()
        run()
    for rep in range(reps):
        order = sides if rep % 2 == 0 else list(reversed(sides))
        for label, (prepare, run) in order:
            prepare()
            sync()
            samples[label].append(run())
    return samples


def median_time(samples):
    return statistics.median(s for s, _ in samples)


def peak_kib(samples):
    return max(k for _, k in samples)


# ---------------------------------------------------------------- data

def write_ini(folder, basic, jobs):
    """Writes Dravelkent.ini in |folder|: |basic| is a dict, |jobs| a list
    of dicts of the job keys without their number."""
    lines = ["[基本]"] + ["%s=%s" % kv for kv in basic.items()] + ["[設定]"]
    for number, job in enumerate(jobs, 1):
        lines += ["%02d%s=%s" % (number, k, v) for k, v in job.items()]
    with open(os.path.join(folder, "Dravelkent.ini"), "w",
              encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


def make_tree(top, files, folders, total_bytes, seed=7):
    """Makes |files| files of mixed sizes adding up to |total_bytes| in
    |folders| leaf folders, two levels deep. Returns the list of paths."""
    rng = random.Random(seed)
    raw = [rng.lognormvariate(8.5, 1.6) for _ in range(files)]
    scale = total_bytes / sum(raw)
    sizes = [max(0, int(r * scale)) for r in raw]
    block = rng.randbytes(4 << 20) * 2
    per_parent = max(1, int(folders ** 0.5))
    paths = []
    for i, size in enumerate(sizes):
        leaf = i % folders
        folder = os.path.join(top, "d%02d" % (leaf % per_parent),
                              "e%03d" % leaf)
        if i < folders:
            os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "f%05d.dat" % i)
        offset = rng.randrange(0, 4 << 20)
        while size > 0:
            chunk = min(size, 4 << 20)
            with open(path, "ab") as out:
                out.write(block[offset:offset + chunk])
            size -= chunk
        if not os.path.exists(path):
            open(path, "wb").close()
        paths.append(path)
    return paths


def remove(path):
    if os.path.lexists(path):
        shutil.rmtree(path)


def today_text():
    return datetime.date.today().strftime("%Y%m%d")


def strace_counts(binary, work):
    out = os.path.join(work, "strace.txt")
    subprocess.run(["strace", "-f", "-c", "-o", out, binary], cwd=work,
                   check=True, stdout=subprocess.DEVNULL)
    counts = {}
    with open(out) as text:
        for line in text:
            parts = line.split()
            # % time, seconds, usecs/call, calls, [errors], syscall
            if len(parts) >= 5 and parts[0][0].isdigit() and \
                    parts[-1] != "total":
                counts[parts[-1]] = int(parts[3])
    os.unlink(out)
    return counts
