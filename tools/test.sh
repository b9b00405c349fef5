#!/usr/bin/env bash
# Builds the program and runs every test (unit and end to end) under CTest.
# Usage: tools/test.sh [preset]   (default: "default"; "debug" adds the
# sanitizers; "ci" and "ci-debug" also turn warnings into errors)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${1:-default}"
"$root/tools/install-deps.sh" packages-build.txt packages-test.txt packages-gui.txt \
  packages-package.txt
cd "$root"
echo "== Building with the preset \"$preset\" (the first time this takes a few minutes)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
echo
echo "== Running the tests (a few minutes more)"
ctest --preset "$preset"
