#!/usr/bin/env bash
# Builds the program and runs every test (unit and end to end) under CTest.
# Usage: tools/test.sh [preset]   (default: "default"; "debug" adds the
# sanitizers; "ci" and "ci-debug" also turn warnings into errors; "windows"
# is the cross build for Windows with its tests (unit and end to end) under
# Wine, which "default" and "ci" run as well)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${1:-default}"
presets=("$preset")
lists=(packages-build.txt packages-test.txt packages-gui.txt
  packages-package.txt)
if [[ "$preset" == default || "$preset" == ci ]]; then
  presets+=(windows)
fi
if [[ " ${presets[*]} " == *" windows "* ]]; then
  lists+=(packages-windows.txt)
fi
"$root/tools/install-deps.sh" "${lists[@]}"
cd "$root"
for each in "${presets[@]}"; do
  echo "== Building with the preset \"$each\" (the first time this takes a few minutes)"
  cmake --preset "$each" >/dev/null
  cmake --build --preset "$each"
  echo
  echo "== Running the tests of \"$each\" (a few minutes more)"
  ctest --preset "$each"
done
