#!/usr/bin/env bash
# Configures (once) and builds the project into build/; fails when the build fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${CHANTEST_BUILD_DIR:-$top/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
set +e
cmake --build "$build" -j2 -- --no-print-directory 2>&1 | grep -vE '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Automatic MOC)'
rc=${PIPESTATUS[0]}
set -e
exit "$rc"
