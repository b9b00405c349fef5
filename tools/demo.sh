#!/usr/bin/env bash
# Builds the program, copies the shipped demo into a scratch folder, shows
# what a run would do there, runs it and shows what it did.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/install-deps.sh" packages-build.txt packages-test.txt packages-gui.txt
cd "$root"
echo "== Building the program (the first time this takes a few minutes)"
cmake --preset default >/dev/null
cmake --build --preset default --target dravelkent
echo

scratch="$(mktemp -d "${TMPDIR:-/tmp}/dravelkent-demo-XXXXXX")"
cp -a "$root/demo/." "$scratch/"

echo "== Demo folder: $scratch"
echo "== Before the run:"
(cd "$scratch" && find . -type f ! -name Dravelkent.ini | sort)
echo
program=(env -u DISPLAY -u WAYLAND_DISPLAY "$root/build/dravelkent")
echo "== What a run would do: dravelkent --dry-run -C $scratch"
"${program[@]}" --dry-run -C "$scratch" || true
echo
echo "== Running it: dravelkent --verbose -C $scratch"
status=0
"${program[@]}" --verbose -C "$scratch" || status=$?
echo "== Exit status: $status"
echo
echo "== After the run:"
(cd "$scratch" && find . -type f ! -name Dravelkent.ini | sort)
echo
echo "== Dravelkent.ini after the run:"
cat "$scratch/Dravelkent.ini"
exit "$status"
