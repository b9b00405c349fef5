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

def run_timed(argv, cwd=None):
    """Runs |argv|; returns its wall time in seconds. Fails loudly."""
    start = time.perf_counter()
    proc = subprocess.run(argv, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("benchmark: %s failed (%d): %s" %
                 (" ".join(argv), proc.returncode,
                  proc.stderr.decode(errors="replace")[:2000]))
    return elapsed


def peak_kib(argv, cwd=None):
    """Runs |argv| once; returns its peak resident set in KiB.

    The peak comes from GNU time, which runs the program as its own small
    child: a child forked from this interpreter would report the
    interpreter's resident set as its own peak.
    """
    fd, peak_file = tempfile.mkstemp(prefix="peak-")
    os.close(fd)
    run_timed([GNU_TIME, "-f", "%M", "-o", peak_file] + list(argv), cwd=cwd)
    with open(peak_file) as text:
        peak = int(text.read().split()[-1])
    os.unlink(peak_file)
    return peak


def sync():
    os.sync()


def alternate(reps, ours, theirs):
    """Runs the two sides alternately; each side is (prepare, run) and run
    returns seconds. Returns the median time of each side and all samples.
    """
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
    return (statistics.median(samples["ours"]),
            statistics.median(samples["theirs"]), samples)


def file_system_type(path):
    """Returns the type of the file system holding |path| ("tmpfs",
    "ext2/ext3", ...), as stat -f names it."""
    return subprocess.run(["stat", "-f", "-c", "%T", path], check=True,
                          capture_output=True, text=True).stdout.strip()


def strace_counts(argv, cwd):
    """Runs |argv| under strace -c -f; returns {syscall: calls}."""
    fd, out = tempfile.mkstemp(prefix="strace-")
    os.close(fd)
    subprocess.run(["strace", "-f", "-c", "-o", out] + list(argv), cwd=cwd,
                   check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)
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
    |folders| leaf folders, two levels deep."""
    rng = random.Random(seed)
    raw = [rng.lognormvariate(8.5, 1.6) for _ in range(files)]
    scale = total_bytes / sum(raw)
    sizes = [max(0, int(r * scale)) for r in raw]
    block = rng.randbytes(4 << 20) * 2
    per_parent = max(1, int(folders ** 0.5))
    for i, size in enumerate(sizes):
        leaf = i % folders
        folder = os.path.join(top, "d%02d" % (leaf % per_parent),
                              "e%03d" % leaf)
        if i < folders:
            os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "f%05d.dat" % i)
        offset = rng.randrange(0, 4 << 20)
        with open(path, "wb") as out:
            while size > 0:
                chunk = min(size, 4 << 20)
                out.write(block[offset:offset + chunk])
                size -= chunk


def make_link_tree(top, originals, files):
    """Makes |files| names, 100 to a folder under 10 top folders, each a
    hard link to one of 200 small files in |originals|: as many names to
    transfer as real files, made in a fraction of the time."""
    os.makedirs(originals, exist_ok=True)
    for j in range(200):
        with open(os.path.join(originals, "o%03d" % j), "wb") as out:
            out.write(b"x" * (j * 10))
    for i in range(files):
        folder = os.path.join(top, "d%02d" % (i % 10),
                              "e%04d" % (i % (files // 100)))
        if i < files // 100:
            os.makedirs(folder, exist_ok=True)
        os.link(os.path.join(originals, "o%03d" % (i % 200)),
                os.path.join(folder, "f%06d.dat" % i))


def make_empty_files(folder, names):
    for name in names:
        open(os.path.join(folder, name), "wb").close()


def remove(path):
    if os.path.lexists(path):
        shutil.rmtree(path)


def date_text(date):
    return date.strftime("%Y%m%d")


def today():
    return datetime.date.today()


def globs_before(text, tail):
    """Returns shell patterns that together match exactly the names made
    of a string of digits as long as |text| and lower than it, then
    |tail|: one pattern for each digit of |text| above 0."""
    return [text[:k] + "[0-%s]" % chr(ord(c) - 1) +
            "?" * (len(text) - k - 1) + tail
            for k, c in enumerate(text) if c > "0"]
