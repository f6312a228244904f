#!/usr/bin/env bash
# Configures (once) and builds the project into build/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${CHANTEST_BUILD_DIR:-$top/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$build" -j2 -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Automatic MOC)' || true
test "${PIPESTATUS[0]}" -eq 0
