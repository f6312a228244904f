#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/
# and runs the test suite there; exits non-zero when a test fails or a sanitizer reports.
# Extra arguments go to ctest (for example -R test_commlog).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${CHANTEST_ASAN_BUILD_DIR:-$top/build-asan}
jobs=${CHANTEST_JOBS:-2}
if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O1 keeps the stacks readable and the instrumented tests quick enough; asserts stay on.
  cmake -S "$top" -B "$build" -DCHANTEST_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" >/dev/null
fi
# The build's own status, not the filter's: a failed build must stop here.
set +e
cmake --build "$build" -j"$jobs" -- --no-print-directory 2>&1 | grep -vE '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Automatic MOC)'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  echo "build failed" >&2
  exit "$status"
fi

# Leaks are reported too; the suite needs no suppressions (Qt, fontconfig and the offscreen
# platform report none), so any report is this program's own.
# The quarantine of freed memory is kept at 64 MB (256 by default), so that the memory bounds
# the tests set on a 10 MB flood measure the program rather than the sanitizer.
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:halt_on_error=1:quarantine_size_mb=64"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j"$jobs" "$@"
