#!/usr/bin/env bash
# Starts the splash window RUNS times (default 11), each in a process of its
# own, and prints the median time to the window being ready and the median of
# the per-process repaint medians.
# usage: RUNS=11 bench/splash.sh   (after scripts/test)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_dir="$root/build/wine"
runs=${RUNS:-11}
"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

ready=() repaint=()
for _ in $(seq "$runs"); do
  out=$("$wine_dir/run" "$root/build/bin/splash_bench.exe")
  ready+=("$(echo "$out" | awk '$1 == "ready" { print $2 }')")
  repaint+=("$(echo "$out" | awk '$1 == "repaint" { print $3 }')")
done
echo "ready (ms), $runs runs: ${ready[*]}"
echo "ready median: $(printf '%s\n' "${ready[@]}" | median) ms"
echo "repaint medians (ms), 201 requests per run: ${repaint[*]}"
echo "repaint median of medians: $(printf '%s\n' "${repaint[@]}" | median) ms"
