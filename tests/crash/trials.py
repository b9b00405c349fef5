#!/usr/bin/env python3
"""Crash trials: "trials.py [TRIALS [SEED]]" runs generated jobs to the end,
then kills twins at random moments: no file may be lost, nor hold other
bytes under a final name; only the program's temporary files may be new;
the settings file keeps its keys. Exits as run_cases.py.
"""

import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from subprocess import DEVNULL, PIPE

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from run_cases import KEYS, program  # noqa: E402

TEMPORARY = re.compile(r"\.dravelkent-[0-9a-f]{16}\.tmp|\.Dravelkent\.ini\.")
NAMES = ("a.dat", "日本語.txt", "sub/b.log", "sub/c/d e.bin", ".notes")


def write(path, data, mtime_ns=0):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pathlib.Path(path).write_bytes(data)
    os.utime(path, ns=(mtime_ns, mtime_ns))


def holds(path, data, mtime_ns):
    return (os.path.isfile(path) and not os.path.islink(path) and
            os.stat(path).st_mtime_ns == mtime_ns and
            pathlib.Path(path).read_bytes() == data)


class Trial:
    def __init__(self, seed, root, shm):
        rng = random.Random(seed)
        self.root, self.copy = root, rng.random() < 0.5
        tree, days = rng.random() < 0.5, rng.choice([0, 7])
        src = os.path.join(shm if rng.random() < 0.5 else root, "src")
        self.folders, self.items = (src, os.path.join(root, "dst")), {}
        for rel in rng.sample(NAMES, 3) if tree else ["app.log"]:
            stamp = "20261206" if days else ""
            final = ("/".join(stamp + p for p in rel.split("/")) if tree
                     else ("20261205" if days else "20261206") + rel)
            item = (os.path.join(self.folders[1], final), rng.randbytes(
                rng.choice((0, 1, 4096, 300_000, 3_000_000))),
                rng.randrange(10**18))
            write(os.path.join(src, rel), *item[1:])
            self.items[os.path.join(src, rel)] = item
        self.encoding = rng.choice(["utf-8", "cp932"])
        values = self.folders + (("*", "*") if tree else ("app", "log"))
        text = ("; 設定\n[基本]\nMEMO=日本語\nTIMESTAMP=20261205\nVIEW=Off\n"
                f"BACKUP={'On' if self.copy else 'Off'}\n"
                + "MESSAGE=Off\n" * (rng.random() < 0.5) + "[設定]\n"
                + "".join(f"01{k}={v}\n"
                          for k, v in zip(KEYS, values + (days,))))
        write(os.path.join(root, "Dravelkent.ini"), text.encode(self.encoding))
        self.keys = self.settings()

    def settings(self):
        lines = pathlib.Path(self.root, "Dravelkent.ini").read_bytes().decode(
            self.encoding).splitlines()
        return dict(line.partition("=")[::2] for line in lines if "=" in line)

    def run(self, seconds=None):
        """Runs to the end, or kills the run after |seconds|."""
        cmd, env = program()
        run = subprocess.Popen(cmd, cwd=self.root, env=env, stdin=DEVNULL,
                               stderr=PIPE)
        try:
            run.wait(timeout=seconds)
        except subprocess.TimeoutExpired:  # the moment has come
            run.kill()
        said = run.communicate(timeout=300)[1]
        for name in (f"faketime_shm_{run.pid}", f"sem.faketime_sem_{run.pid}"):
            if os.path.exists("/dev/shm/" + name):  # left by libfaketime
                os.remove("/dev/shm/" + name)
        return said

    def faults(self, done):
        """What is wrong now (|done|: the run finished its work)."""
        faults, known = [], {os.path.join(self.root, name) for name in (
            "Dravelkent.ini", "Dravelkent.lock")}
        for source, (final, data, mtime) in self.items.items():
            known.update((source, final))
            here, there = holds(source, data, mtime), holds(final, data, mtime)
            if os.path.lexists(final) and not there:
                faults.append(f"{final} does not hold its source")
            if os.path.lexists(source) and not here or not (here or there):
                faults.append(f"{source} is changed or lost")
            if (done and not there) or (self.copy and not here):
                faults.append(f"{source} is not copied or moved")
        for folder in (self.root,) + self.folders:
            faults += [f"unexpected {top}/{name}"
                       for top, _, names in os.walk(folder) for name in names
                       if os.path.join(top, name) not in known
                       and not TEMPORARY.match(name)]
        keys = self.settings()
        wanted = dict(self.keys, TIMESTAMP=keys.get("TIMESTAMP"))
        if "MESSAGE" in keys:  # written at the start when missing
            wanted.setdefault("MESSAGE", "Off")
        if keys != wanted or wanted["TIMESTAMP"] not in (
                "20261206", "20261206" if done else "20261205"):
            faults.append(f"the settings file holds {keys}")
        return faults


def main(trials=40, seed=None):
    seed = random.randrange(2**32) if seed is None else int(seed)
    print(f"crash trials, seed {seed}")
    rng, found = random.Random(seed), 0
    for _ in range(int(trials)):
        trial_seed = rng.randrange(2**32)
        dirs = [tempfile.mkdtemp(prefix="dravelkent-crash-", dir=d)
                for d in ("/tmp", "/tmp", "/dev/shm", "/dev/shm")]
        try:
            twin, began = Trial(trial_seed, dirs[0], dirs[2]), time.monotonic()
            said = twin.run()
            faults = twin.faults(True) + ([f"said {said}"] if said else [])
            trial = Trial(trial_seed, dirs[1], dirs[3])
            trial.run(rng.uniform(0, time.monotonic() - began))
            faults += [f"killed: {fault}" for fault in trial.faults(False)]
        finally:
            for d in dirs:
                shutil.rmtree(d, ignore_errors=True)
        print("".join(f"seed {trial_seed}: {f}\n" for f in faults), end="")
        found += bool(faults)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
