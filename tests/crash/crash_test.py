#!/usr/bin/env python3
"""Crash safety: starts real runs on generated data, kills the program with
SIGKILL at random moments, and checks what a user would find afterwards.

After each kill:
- every source file is in the source or, whole and with its mtime, at a
  place the run carries it to (copy mode: always still in the source);
- no file under a final name is shorter than its source or differs;
- nothing is left but the program's own temporary files;
- the settings file reads back, in its encoding, with every key it had.
Then a run to the end must finish the work, leave those temporary files
alone (never take them for dated copies, never transfer them) and say no
failure but the ones the kill explains.

Usage: crash_test.py [--trials N] [--seed S] [--bin PATH] [--keep]
The program is DRAVELKENT_BIN unless --bin is given.
"""

import argparse
import os
import random
import select
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from crash_scenario import Scenario, TODAY  # noqa: E402
from crash_checks import Checker  # noqa: E402

SHM = "/dev/shm"


def program_env():
    env = dict(os.environ)
    env["NO_FAKE_STAT"] = "1"
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["TZ"] = "UTC"
    # faketime is preloaded ahead of the sanitizer runtime.
    env.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
    return env


class Runner:
    def __init__(self, program):
        self.program = program
        self.env = program_env()

    def start(self, cwd, args=()):
        # A session of its own, so that one signal reaches faketime and the
        # program alike.
        return subprocess.Popen(
            ["faketime", TODAY + " 12:00:00", self.program, *args], cwd=cwd,
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True)

    def run(self, cwd, args=()):
        """Runs to the end; returns (status, stderr text, seconds)."""
        began = time.monotonic()
        proc = self.start(cwd, args)
        _, err = proc.communicate(timeout=120)
        return (proc.returncode, err.decode("utf-8", "replace"),
                time.monotonic() - began)

    def run_and_kill(self, cwd, delay):
        """Runs, and kills the whole session after |delay| seconds unless it
        ended first. Returns True when it was killed."""
        proc = self.start(cwd)
        pidfd = os.pidfd_open(proc.pid)
        try:
            ended, _, _ = select.select([pidfd], [], [], delay)
        finally:
            os.close(pidfd)
        killed = not ended
        if killed:
            os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate(timeout=120)
        if killed:
            # faketime, killed too, cannot remove its shared memory itself.
            for name in (f"faketime_shm_{proc.pid}",
                         f"sem.faketime_sem_{proc.pid}"):
                try:
                    os.remove(os.path.join(SHM, name))
                except FileNotFoundError:
                    pass
        return killed


def cross_available():
    try:
        return os.stat(SHM).st_dev != os.stat("/tmp").st_dev
    except OSError:
        return False


def new_scenario(rng, cross_ok, kind=None):
    mode, shape, cross = kind or (rng.choice(["move", "copy"]),
                                  rng.choice(["file", "tree", "chain"]),
                                  cross_ok and rng.random() < 0.5)
    scenario = Scenario(rng, mode, shape, cross, rng.choice([0, 7]),
                        rng.choice(["utf-8", "utf-8-sig", "cp932"]), SHM)
    scenario.build()
    return scenario


def timed_scenario(runner, rng, cross_ok):
    """Builds the next trial's scenario twice from one state of |rng|: the
    first twin runs whole to time it; returns the second and that time, the
    span over which its kill is spread."""
    state = rng.getstate()
    twin = new_scenario(rng, cross_ok)
    try:
        span = runner.run(twin.dir)[2]
    finally:
        twin.remove()
    rng.setstate(state)
    return new_scenario(rng, cross_ok), span


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--trials", type=int, default=50)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--bin", default=os.environ.get("DRAVELKENT_BIN", ""))
    parser.add_argument("--verbose", action="store_true",
                        help="name every temporary file a kill left")
    parser.add_argument("--keep", action="store_true",
                        help="keep the folders of trials with findings")
    args = parser.parse_args()
    if not args.bin or not os.path.exists(args.bin):
        print("crash test: no program (DRAVELKENT_BIN or --bin)")
        return 2
    seed = args.seed if args.seed is not None else random.randrange(2**32)
    print(f"crash test: seed {seed} (rerun with --seed {seed})", flush=True)
    rng = random.Random(seed)
    runner = Runner(os.path.abspath(args.bin))
    cross_ok = cross_available()
    if not cross_ok:
        print("crash test: /dev/shm is not another file system here; "
              "every trial stays on one")
    startup = min(runner.run("/", ["--version"])[2] for _ in range(3))
    print(f"crash test: a start takes {startup * 1000:.1f} ms", flush=True)

    counts = {"kills": 0, "ended first": 0, "half done": 0, "leftovers": 0,
              "echoes": 0}
    findings = []
    for number in range(1, args.trials + 1):
        scenario, span = timed_scenario(runner, rng, cross_ok)
        keep = False
        try:
            delay = rng.uniform(0.9 * startup, span)
            checker = Checker(scenario)
            killed = runner.run_and_kill(scenario.dir, delay)
            counts["kills" if killed else "ended first"] += 1
            checker.after_kill()
            status, err, _ = runner.run(scenario.dir)
            checker.after_rerun(status, err)
            counts["half done"] += checker.half_done
            counts["leftovers"] += len(checker.left_by_kill())
            counts["echoes"] += checker.echoes
            if args.verbose:
                for path in checker.left_by_kill():
                    print(f"trial {number}: left {path}")
            if checker.findings:
                keep = args.keep
                findings.append(number)
                print(f"trial {number} ({scenario.label()}, "
                      f"{'killed' if killed else 'ended before the kill'} "
                      f"after {delay * 1000:.1f} ms; "
                      f"{scenario.dir if keep else 'removed'}):")
                for finding in checker.findings:
                    print("  " + finding)
        finally:
            if not keep:
                scenario.remove()

    print(f"crash test: {args.trials} trials, {counts['kills']} kills "
          f"({counts['ended first']} runs ended before the kill), "
          f"{counts['half done']} left half-done work, "
          f"{counts['leftovers']} temporary files left, "
          f"{counts['echoes']} failures said by the next run as expected, "
          f"{len(findings)} trials with findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
