#!/bin/bash
# Runs every benchmark program of the native tree, one after another.
set -euo pipefail
tree=${1:?build tree}
found=0
for bin in "$tree"/bench_*; do
  [ -x "$bin" ] || continue
  found=1
  echo "== $(basename "$bin")"
  "$bin" --benchmark_counters_tabular=true
done
[ $found = 1 ] || echo "no benchmarks built (is libbenchmark-dev installed?)"
