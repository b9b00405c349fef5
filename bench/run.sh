#!/usr/bin/env bash
# Installs what the benchmark needs (as root), builds the release program and
# runs bench/run.py with the given arguments (see bench/run.py --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/install-deps.sh" packages-build.txt packages-bench.txt
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target dravelkent >/dev/null
exec python3 "$root/bench/run.py" "$@"
