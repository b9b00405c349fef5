#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz", clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs one of them for a while.
#
# Usage: fuzz/run.sh [seconds] [subject]
#   seconds  how long to fuzz (default 60)
#   subject  which target: fuzz/<subject>_fuzzer.cc (default "settings")
# Environment:
#   FUZZ_WORK  scratch folder for the growing corpus and crash files
#              (default ${TMPDIR:-/tmp}/dravelkent-fuzz); never the checkout
#   FUZZ_JOBS  parallel fuzzing processes (default 1)
#
# Inputs that break a check are written to $FUZZ_WORK/<subject>/artifacts/.
# Mend the fault, then copy the input into fuzz/regressions/<subject>/ so that
# tools/test.sh replays it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
subject="${2:-settings}"
work="${FUZZ_WORK:-${TMPDIR:-/tmp}/dravelkent-fuzz}/$subject"
jobs="${FUZZ_JOBS:-1}"

if [[ ! -f "$root/fuzz/${subject}_fuzzer.cc" ]]; then
  echo "No fuzz target fuzz/${subject}_fuzzer.cc" >&2
  exit 2
fi

"$root/tools/install-deps.sh" packages-build.txt packages-fuzz.txt
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${subject}_fuzzer"

mkdir -p "$work/corpus" "$work/artifacts"
options=(
  -max_total_time="$seconds"
  -max_len=1024      # faults show in small files; longer ones run slowly
  -timeout=10
  -rss_limit_mb=2048
  -print_final_stats=1
  -artifact_prefix="$work/artifacts/"
)
if [[ -f "$root/fuzz/$subject.dict" ]]; then
  options+=(-dict="$root/fuzz/$subject.dict")
fi
if [[ "$jobs" -gt 1 ]]; then
  options+=(-fork="$jobs" -ignore_crashes=1)
fi

# New inputs go into the first folder only; the seed corpus is read.
echo "== Fuzzing $subject for $seconds s; corpus and crashes in $work"
"$root/build-fuzz/${subject}_fuzzer" "${options[@]}" \
  "$work/corpus" "$root/fuzz/corpus/$subject"
