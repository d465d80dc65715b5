#!/usr/bin/env bash
# Runs every fuzz target for as long as asked, each from its committed seeds,
# new inputs kept in build-fuzz/corpus, and prints the runs and speed of each.
# A crash leaves its input in the current folder (crash-*): make it a table
# row in the unit tests.
# usage: bench/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
for target in commandline version where registry interpreter; do
  mkdir -p "build-fuzz/corpus/$target"
  echo "== $target, $seconds s"
  "build-fuzz/fuzz_$target" "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" \
    -max_total_time="$seconds" -print_final_stats=1 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|ERROR|SUMMARY' || true
done
