#!/usr/bin/env bash
# The build time of a runtime archive against the number of files: for each
# count in FILES, a generated runtime folder of that many small files
# (tests/release/make_runtime_folder.py --files N) made into an archive by
# resources/make_runtime.py as the build runs it (checks, staging,
# makensis), timed as a whole process. With BASELINE (a commit) the same
# folders are made by that commit's make_runtime.py too, for the counts in
# BASELINE_FILES, and the two archives must be the same bytes.
# usage: FILES="2000 8000 30000" BASELINE=c7bb7a2 BASELINE_FILES="2000 8000" \
#          bench/runtime_staging.sh [WORK_DIR]
#   STANDIN_DIR  the folder holding the stand-in java.exe and javaw.exe
#                (default build/resources/demo/jre-bin)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/bench/staging}
counts=${FILES:-2000 8000 30000}
baseline=${BASELINE:-}
baseline_counts=${BASELINE_FILES:-2000 8000}
standins=${STANDIN_DIR:-$root/build/resources/demo/jre-bin}
[ -f "$standins/java.exe" ] && [ -f "$standins/javaw.exe" ] ||
  { echo "no stand-in java.exe and javaw.exe in $standins (build the main tree or set STANDIN_DIR)" >&2; exit 1; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
now() { date +%s.%N; }

if [ -n "$baseline" ]; then
  mkdir -p "$work/baseline"
  for file in make_runtime.py pe_image.py; do
    git -C "$root" show "$baseline:resources/$file" >"$work/baseline/$file"
  done
fi

# made SCRIPT FOLDER OUTPUT: makes the archive, prints the seconds taken.
made() {
  local start
  rm -rf "$3" "$3.work"
  start=$(now)
  python3 "$1" --setting bench --folder "$2" --work "$3.work" --output "$3"
  echo "$(now) - $start" | bc
}

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $(makensis -VERSION); baseline: ${baseline:-none}"
printf '%8s  %12s  %12s  %14s\n' files "this tree" baseline "archive bytes"
for count in $counts; do
  folder="$work/runtime-$count"
  python3 "$root/tests/release/make_runtime_folder.py" "$folder" --java "$standins/java.exe" \
    --javaw "$standins/javaw.exe" --files "$count"
  files=$(find "$folder" -type f | wc -l)
  seconds=$(made "$root/resources/make_runtime.py" "$folder" "$work/now-$count.exe")
  before=-
  if [ -n "$baseline" ] && [[ " $baseline_counts " == *" $count "* ]]; then
    before=$(made "$work/baseline/make_runtime.py" "$folder" "$work/baseline-$count.exe")
    cmp -s "$work/now-$count.exe" "$work/baseline-$count.exe" ||
      echo "the archives of $count files differ from the baseline's" >&2
    before=$(printf '%.1f s' "$before")
    rm -rf "$work/baseline-$count.exe" "$work/baseline-$count.exe.work"
  fi
  printf '%8s  %10.1f s  %12s  %14s\n' "$files" "$seconds" "$before" "$(stat -c %s "$work/now-$count.exe")"
  rm -rf "$folder" "$work/now-$count.exe" "$work/now-$count.exe.work"
done
