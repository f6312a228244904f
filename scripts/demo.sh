#!/usr/bin/env bash
# Starts the program in demo/ (created on first use).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$top/demo"
cd "$top/demo"
exec "$top/build/chantest"
