#!/usr/bin/env bash
# Starts the program on a working demo: the modem simulator as a bank of four modems on free
# consecutive ports of 127.0.0.1, and the folder demo/ with a sample channel base, link settings
# pointing at the bank (a 2 s pause, no initialisation string) and, when no task is waiting
# there, an immediate task over the sample channels. The simulator is stopped when the program
# ends.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${CHANTEST_BUILD_DIR:-$top/build}
data="$top/tools/demo"
demo="$top/demo"

to_cp1251() { iconv -f UTF-8 -t CP1251 | sed 's/\r*$/\r/'; }

mkdir -p "$demo"
cd "$demo"
[ -f ChBase.dat ] || to_cp1251 <"$data/channels.txt" >ChBase.dat

state=$(mktemp -d)
modems=4
"$build/modem-sim" --modems "$modems" --table "$data/answers.txt" >"$state/sim.out" 2>"$state/sim.err" &
sim=$!
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT
port=""
for _ in $(seq 100); do
  [ "$(grep -c '^PORT ' "$state/sim.out")" -ge "$modems" ] && port=$(sed -n '1s/^PORT \([0-9]*\)$/\1/p' "$state/sim.out")
  [ -n "$port" ] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "demo: the modem simulator did not start: $(cat "$state/sim.err")" >&2
  exit 1
fi

last=$((port + modems - 1))
# Link settings: TCP to the bank (flags 2: TCP chosen, initialisation string off), pause 2 s.
printf '%s\n' "^127.0.0.1^" "9600^$port-$last^" "atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0" \
  "at+MS=v34,1,2400,12000" "2" "2" | to_cp1251 >KanvoAlt.ini

if ! ls ./*.tsk >/dev/null 2>&1; then
  {
    echo "Демо^Веднага^0^0^Чакаща^"
    grep -E '\^(#80011|#80012|#80013|#80021|#80031|#80032|\*80041|\*80042)\^$' "$data/channels.txt" | awk -F'^' '{ printf "%s -- %s  %s Ch. --> %s\n", $1, $2, $3, $4 }'
  } | to_cp1251 >demo.tsk
fi

echo "demo: a bank of $modems simulated modems on 127.0.0.1:$port-$last, working folder $demo"
"$build/chantest"
