#!/bin/bash
# Runs every fuzz target in a build tree for the given number of seconds,
# seeded from its kept inputs (tests/fuzz/corpus/<target>/). New inputs go to a
# scratch corpus under the build tree; a crash stops the run with its input
# saved under build/fuzz/artifacts/.
set -euo pipefail
tree=${1:?build tree}; seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$tree/artifacts"
status=0
for bin in "$tree"/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  work="$tree/corpus/$name"; mkdir -p "$work" "$root/tests/fuzz/corpus/$name"
  echo "== $name: ${seconds}s"
  if ! "$bin" "$work" "$root/tests/fuzz/corpus/$name" -max_total_time="$seconds" \
        -artifact_prefix="$tree/artifacts/$name-" -print_final_stats=1 2>"$tree/$name.log"; then
    tail -40 "$tree/$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$tree/$name.log" || true
  fi
done
exit $status
