#!/bin/bash
# Runs every benchmark program of the native tree, one after another, then
# the Windows benchmark programs of the x86-64 tree (bench_*.exe) under Wine
# in a private prefix that lives only for this run.
#   run-bench.sh NATIVE_TREE [WIN64_TREE]   (default: the win64 tree beside NATIVE_TREE)
set -euo pipefail
tree=${1:?build tree}
root=$(cd "$(dirname "$0")/.." && pwd)
win=${2:-$(dirname "$tree")/win64}
found=0
for bin in "$tree"/bench_*; do
  [ -x "$bin" ] || continue
  found=1
  echo "== $(basename "$bin")"
  "$bin" --benchmark_counters_tabular=true
done
[ $found = 1 ] || echo "no benchmarks built (is libbenchmark-dev installed?)"

shopt -s nullglob
exes=("$win"/bench_*.exe)
((${#exes[@]})) || exit 0
win=$(realpath "$win")
dir="$win/bench-wine"
"$root/tools/wine-env.sh" setup "$dir" >/dev/null
# Serial pairs for the benchmarks that talk to a port.
"$root/tests/support/serial-pairs.sh" start "$dir" >/dev/null
export KL_SERIAL_PAIRS="$dir-serial/pairs"
trap '"$root/tests/support/serial-pairs.sh" stop "$dir"; "$root/tools/wine-env.sh" cleanup "$dir"' EXIT
status=0
for exe in "${exes[@]}"; do
  echo "== $(basename "$exe") (Wine)"
  "$root/tools/wine-env.sh" run "$dir" "$exe" || status=1
done
exit $status
