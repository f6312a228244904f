#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer,
# libFuzzer) and runs each for the given number of seconds (default 180), one line per target.
# Exits non-zero when a target finds a crash, a sanitizer report or a broken property; the
# input is kept under build-fuzz/fuzz/findings/<target>/ (copy it to fuzz/regressions/<target>/
# once the fault is fixed). CHANTEST_FUZZ_JOBS runs that many targets at once (default 1);
# further arguments name the targets to run (default all).
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-180}
shift || true
build=$top/build-fuzz
jobs=${CHANTEST_FUZZ_JOBS:-1}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCHANTEST_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF >/dev/null
fi
# The build's own status, not the filter's: a failed build must stop here.
set +e
cmake --build "$build" -j2 --target fuzz_targets -- --no-print-directory 2>&1 | grep -vE '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Automatic MOC)'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  echo "build failed" >&2
  exit "$status"
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in "$top"/fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi
out=$build/fuzz
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:handle_abort=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_one() {
  local t=$1 work=$out/work/$1 findings=$out/findings/$1 log=$out/logs/$1.log
  mkdir -p "$work" "$findings" "$out/logs"
  local seeds=("$top/fuzz/corpus/$t")
  [ -d "$top/fuzz/regressions/$t" ] && seeds+=("$top/fuzz/regressions/$t")
  local rc=0
  (cd "$work" && "$out/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "${seeds[@]}") >"$log" 2>&1 || rc=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $rc -eq 0 ]; then
    printf '%-14s %12s runs in %ss: clean\n' "$t" "${runs:-?}" "$seconds" >"$out/logs/$t.result"
  else
    local what artifact
    what=$(grep -m1 -E '^==fuzz==|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log" || echo "exit $rc")
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    printf '%-14s %12s runs: FINDING: %s (input %s, log %s)\n' "$t" "${runs:-?}" "$what" "${artifact:-none}" \
      "$log" >"$out/logs/$t.result"
  fi
  return $rc
}

failed=0
running=0
for t in "${targets[@]}"; do
  [ -x "$out/fuzz_$t" ] || { echo "$t: no such fuzz target" >&2; exit 2; }
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
for t in "${targets[@]}"; do cat "$out/logs/$t.result"; done
exit $failed
