#!/usr/bin/env python3
"""Mutation check: applies deliberate faults to the program one at a time,
runs the test suite against each, and lists the faults no test caught.

Each mutant in tools/mutants.txt replaces one exact text of one file with
another. A mutant is caught when the build or any test fails. The source
file is restored after every mutant, also when the run is interrupted.

Usage: tools/mutate.py [--preset default] [--only ID ...] [--exclude REGEX]
Not run by CI: a full pass takes about as many suite runs as mutants.
"""

import argparse
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
MUTANTS = ROOT / "tools" / "mutants.txt"
# The CTest names of the tests that drive the built program.
WHOLE_PROGRAM_TESTS = r"^(e2e|crash|install)\."


class Mutant:
    def __init__(self, ident, path, old, new, what):
        self.ident, self.path, self.old, self.new = ident, path, old, new
        self.what = what


def read_mutants():
    """Reads blocks of the form

        == ID path/of/file.cc
        what the fault is, one line
        --- old
        exact old text (one or more lines)
        +++ new
        replacement text
    """
    mutants = []
    block = None
    section = None
    for line in MUTANTS.read_text(encoding="utf-8").splitlines():
        if line.startswith("== "):
            ident, path = line[3:].split(maxsplit=1)
            block = {"id": ident, "path": path, "what": "", "old": [],
                     "new": []}
            mutants.append(block)
            section = "what"
        elif block is None or line.startswith("#"):
            continue
        elif line == "--- old":
            section = "old"
        elif line == "+++ new":
            section = "new"
        elif section == "what":
            block["what"] = (block["what"] + " " + line).strip()
        else:
            block[section].append(line)
    return [Mutant(b["id"], b["path"], "\n".join(b["old"]),
                   "\n".join(b["new"]), b["what"]) for b in mutants]


def run(cmd, log):
    log.write(f"$ {' '.join(cmd)}\n")
    log.flush()
    return subprocess.run(cmd, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT,
                          check=False).returncode


def try_mutant(mutant, args, log):
    """Returns "caught", "survived", "stillborn" (the build failed) or
    "invalid" (the old text is not found exactly once)."""
    path = ROOT / mutant.path
    original = path.read_text(encoding="utf-8")
    if original.count(mutant.old) != 1:
        return "invalid"
    try:
        path.write_text(original.replace(mutant.old, mutant.new),
                        encoding="utf-8")
        if run(["cmake", "--build", "--preset", args.preset], log) != 0:
            return "stillborn"
        # The unit tests first: they catch most faults in seconds.
        for stage in (["-E", WHOLE_PROGRAM_TESTS],
                      ["-R", WHOLE_PROGRAM_TESTS]):
            test = ["ctest", "--preset", args.preset, "--stop-on-failure",
                    "-j", str(args.jobs)] + stage
            if args.exclude:
                test += ["-E", args.exclude] if stage[0] == "-R" else []
            if run(test, log) != 0:
                return "caught"
        return "survived"
    finally:
        path.write_text(original, encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preset", default="default")
    parser.add_argument("--only", nargs="*", default=[])
    parser.add_argument("--exclude", default="",
                        help="ctest -E regex of whole-program tests to "
                        "leave out")
    parser.add_argument("--jobs", type=int, default=2,
                        help="tests run at once")
    parser.add_argument("--log", default="mutate.log")
    args = parser.parse_args()

    mutants = read_mutants()
    if args.only:
        mutants = [m for m in mutants if m.ident in args.only]
    subprocess.run(["cmake", "--preset", args.preset], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    results = {}
    with open(ROOT / args.log, "w", encoding="utf-8") as log:
        if run(["cmake", "--build", "--preset", args.preset], log) != 0:
            print("the unmutated program does not build", file=sys.stderr)
            return 2
        for mutant in mutants:
            started = time.monotonic()
            log.write(f"\n===== {mutant.ident}: {mutant.what}\n")
            outcome = try_mutant(mutant, args, log)
            results[mutant.ident] = outcome
            print(f"{mutant.ident:24} {outcome:10} "
                  f"{time.monotonic() - started:6.0f} s  {mutant.what}",
                  flush=True)
        # Leave the build matching the restored sources.
        run(["cmake", "--build", "--preset", args.preset], log)

    counted = [i for i, o in results.items() if o in ("caught", "survived")]
    caught = [i for i in counted if results[i] == "caught"]
    print(f"\ncaught {len(caught)} of {len(counted)} mutants"
          f" ({len(results) - len(counted)} stillborn or invalid)")
    survivors = [i for i in counted if results[i] == "survived"]
    if survivors:
        print("not caught: " + " ".join(survivors))
    return 0


if __name__ == "__main__":
    sys.exit(main())
