#!/usr/bin/env python3
"""Runs that end badly or meet, on generated jobs (a file or a tree, moved
or copied, dated or not, at times from another file system; UTF-8 or CP932
settings). "crash [TRIALS [SEED]]" kills runs with SIGKILL at random
moments: no file may be lost or stand under a final name with other bytes,
nothing but the program's temporary files may be left, the settings file
must read back whole; a run to the end then finishes the work and leaves
those temporary files alone. "two-runs" starts two runs at one moment (the
work is done once, both succeed), and one beside a run whose message waits.
The program is DRAVELKENT_BIN; exits as run_cases.py does.
"""

import os
import pty
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from run_cases import KEYS, CannotRun, program  # noqa: E402

TEMPORARY = re.compile(r"\.dravelkent-[0-9a-f]{16}\.tmp|\.Dravelkent\.ini\.")
PLANTED = ".dravelkent-0123456789abcdef.tmp"
ECHO = re.compile(r"cannot move .*: (No such file or directory|File exists)$")
NAMES = ("a.dat", "日本語.txt", "sub/b.log", "sub/c/d e.bin", ".notes")


def write(path, data, mtime_ns=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mtime_ns is not None:
        os.utime(path, ns=(mtime_ns, mtime_ns))


def holds(path, data, mtime_ns):
    if os.path.islink(path) or not os.path.isfile(path):
        return False
    with open(path, "rb") as f:
        return f.read() == data and os.stat(path).st_mtime_ns == mtime_ns


class Trial:
    """One job over folders below |root| (its source now and then below
    |shm|), made alike from one seed."""

    def __init__(self, seed, root, shm, **basic):
        rng = random.Random(seed)
        self.root, self.copy = root, rng.random() < 0.5
        tree, days = rng.random() < 0.5, rng.choice([0, 7])
        src = os.path.join(shm if rng.random() < 0.5 else root, "src")
        dst = os.path.join(root, "dst")
        self.folders, self.items = (root, src, dst), {}
        for rel in rng.sample(NAMES, 3) if tree else ["app.log"]:
            stamp = "20261206" if days else ""
            final = ("/".join(stamp + p for p in rel.split("/")) if tree
                     else ("20261205" if days else "20261206") + rel)
            size = rng.choice((0, 1, 4096, 300_000, 3_000_000))
            item = (os.path.join(dst, final), rng.randbytes(size),
                    rng.randrange(10**18))
            write(os.path.join(src, rel), *item[1:])
            self.items[os.path.join(src, rel)] = item
        for folder in (src, dst):
            write(os.path.join(folder, PLANTED), b"planted", 0)
        self.encoding = rng.choice(["utf-8", "cp932"])
        basic = {"BACKUP": "On" if self.copy else "Off", "MEMO": "日本語",
                 "TIMESTAMP": "20261205", "VIEW": "Off",
                 "MESSAGE": rng.choice(["Off", None]), **basic}
        jobs = zip(KEYS, (src, dst) + (("*", "*") if tree else ("app", "log"))
                   + (str(days),))
        text = "; 設定\n[基本]\n" + "".join(
            f"{k}={v}\n" for k, v in basic.items() if v) + "[設定]\n" + "".join(
            f"01{k}={v}\n" for k, v in jobs)
        write(os.path.join(root, "Dravelkent.ini"), text.encode(self.encoding))
        self.keys = self.settings()

    def settings(self):
        with open(os.path.join(self.root, "Dravelkent.ini"), "rb") as f:
            lines = f.read().decode(self.encoding).splitlines()
        return dict(line.partition("=")[::2] for line in lines if "=" in line)

    def start(self, **streams):
        cmd, env = program()
        streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.PIPE,
                   "stderr": subprocess.PIPE, **streams}
        return subprocess.Popen(cmd, cwd=self.root, env=env, **streams)

    def temporaries(self):
        return {os.path.join(top, name) for folder in self.folders
                for top, _, names in os.walk(folder) for name in names
                if TEMPORARY.match(name) and name != PLANTED}

    def check(self, when, done):
        """What is wrong after a run (|done|: that finished the work)."""
        faults, known = [], {os.path.join(self.root, "Dravelkent.ini")}
        for source, (final, data, mtime) in self.items.items():
            known.update((source, final))
            here, there = holds(source, data, mtime), holds(final, data, mtime)
            if os.path.lexists(final) and not there:
                faults.append(f"{final} does not hold its source")
            if os.path.lexists(source) and not here or not (here or there):
                faults.append(f"{source} is changed or lost")
            if (done and not there) or (self.copy and not here):
                faults.append(f"{source} is not copied or moved")
        for folder in self.folders:
            for top, _, names in os.walk(folder):
                faults += [f"unexpected {top}/{name}" for name in names
                           if os.path.join(top, name) not in known
                           and not TEMPORARY.match(name)]
            if folder != self.root and not holds(
                    os.path.join(folder, PLANTED), b"planted", 0):
                faults.append(f"{folder}/{PLANTED} is moved or changed")
        try:
            keys = self.settings()
        except (OSError, UnicodeError) as error:
            return [f"{when}: the settings file: {error}"] + faults
        wanted = dict(self.keys, TIMESTAMP=keys.get("TIMESTAMP"))
        for key in ("VIEW", "MESSAGE"):  # a run writes them when missing
            if key in keys and key not in self.keys:
                wanted[key] = "Off"
        if keys != wanted or keys.get("TIMESTAMP") not in (
                ["20261206"] + ([] if done else ["20261205"])):
            faults.append(f"the settings file holds {keys}")
        return [f"{when}: {fault}" for fault in faults]


def crash(trials=40, seed=None):
    seed = random.randrange(2**32) if seed is None else int(seed)
    print(f"crash trials, seed {seed}")
    rng, faults = random.Random(seed), []
    for _ in range(int(trials)):
        trial_seed = rng.randrange(2**32)
        dirs = [tempfile.mkdtemp(prefix="dravelkent-crash-", dir=d)
                for d in ("/tmp", "/tmp", "/dev/shm", "/dev/shm")]
        try:
            # A twin run to the end shows how long the work takes.
            twin, began = Trial(trial_seed, dirs[0], dirs[2]), time.monotonic()
            said = twin.start().communicate(timeout=300)[1]
            span = time.monotonic() - began
            found = twin.check("to the end", True) + ([said] if said else [])
            trial = Trial(trial_seed, dirs[1], dirs[3])
            run = trial.start()
            pidfd = os.pidfd_open(run.pid)
            if not select.select([pidfd], [], [], rng.uniform(0, span))[0]:
                os.kill(run.pid, signal.SIGKILL)
            os.close(pidfd)
            run.communicate(timeout=300)
            for name in (f"faketime_shm_{run.pid}",
                         f"sem.faketime_sem_{run.pid}"):  # libfaketime's
                if os.path.exists("/dev/shm/" + name):
                    os.remove("/dev/shm/" + name)
            found += trial.check("killed", False)
            left, rerun = trial.temporaries(), trial.start()
            said = rerun.communicate(timeout=300)[1].decode(
                "utf-8", "replace").splitlines()
            found += [f"the next run said {line}" for line in said
                      if not ECHO.search(line)]
            if rerun.returncode != (1 if said else 0) or (
                    trial.temporaries() - left):
                found.append(f"the next run ended with {rerun.returncode}")
            found += trial.check("run again", True)
        finally:
            for d in dirs:
                shutil.rmtree(d, ignore_errors=True)
        faults += [f"seed {trial_seed}: {fault}" for fault in found]
    return faults


def two_runs():
    faults, root = [], tempfile.mkdtemp(prefix="dravelkent-two-")
    try:
        for pair in range(20):
            # Without VIEW both runs save it first; neither may undo the
            # TIMESTAMP the other writes.
            folder = f"{root}/{pair}"
            trial = Trial(pair, folder, folder, VIEW=pair % 2 and "Off")
            # Both wait at a gate that one write opens.
            go, gate = os.pipe()
            cmd, env = program()
            runs = [subprocess.Popen(
                ["sh", "-c", f'read -r go <&{go}; exec "$@"', "-"] + cmd,
                cwd=folder, env=env, pass_fds=(go,), stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE, stderr=subprocess.PIPE) for _ in "ab"]
            os.close(go)
            os.write(gate, b"\n\n")
            os.close(gate)
            for run in runs:
                said = run.communicate(timeout=300)[1]
                if run.returncode or said:
                    faults.append(f"pair {pair}: {run.returncode} {said}")
            faults += trial.check(f"pair {pair}", True)
        # A run whose message waits for a person holds no lock.
        trial = Trial(99, root + "/waits", root + "/waits", MESSAGE="On")
        terminal, slave = pty.openpty()
        waits = trial.start(stdin=slave)
        os.close(slave)
        waits.stdout.readline()
        other = trial.start()
        try:
            other.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            other.kill()
            faults.append("a run waited for another run's message")
        os.write(terminal, b"\n")
        waits.communicate(timeout=60)
        os.close(terminal)
        faults += trial.check("beside a waiting run", True)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return faults


if __name__ == "__main__":
    try:
        found = {"crash": crash, "two-runs": two_runs}[sys.argv[1]](
            *sys.argv[2:])
    except CannotRun as why:
        print(f"cannot run: {why}")
        sys.exit(1 if os.environ.get("DRAVELKENT_E2E_STRICT") == "1" else 77)
    print("".join(fault + "\n" for fault in found) or "no findings", end="")
    sys.exit(1 if found else 0)
