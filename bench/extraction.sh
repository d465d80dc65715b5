#!/usr/bin/env bash
# Extraction benchmark: builds the launcher around full-size payloads (a
# 23,609,386-byte runtime archive and a 556,723,119-byte installer ZIP, 67
# chunks) and around a 3-chunk one, then measures in one run:
#   - the build time of the full-size executable (payload steps only, and
#     from scratch);
#   - "brackenhue-setup.exe -x" under Wine against cp of the same jar on the
#     same file system;
#   - the peak private (anonymous) memory of the launcher process for both.
# The payloads are generated here and never committed.
# usage: bench/extraction.sh [WORK_DIR]   (default build/bench; needs ~4 GB)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/bench}
runs=${RUNS:-3}
mkdir -p "$work"
work=$(cd "$work" && pwd)
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
wine_dir="$root/build/wine"
[ -x "$wine_dir/run" ] || { echo "configure and build the main tree first (scripts/test)" >&2; exit 1; }

now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc; }

# Inputs.
demo_runtime="$root/build/resources/demo/demo-runtime.exe"
runtime="$work/runtime-full.exe"
if [ ! -s "$runtime" ]; then
  cp "$demo_runtime" "$runtime"
  head -c $((23609386 - $(stat -c %s "$demo_runtime"))) /dev/urandom >>"$runtime"
fi
for size in 556723119 20000000; do
  [ -s "$work/installer-$size.jar" ] ||
    python3 "$root/tests/payloads/make_sized_zip.py" $size "$work/installer-$size.jar"
done

build_launcher() {  # NAME INSTALLER_SIZE
  local dir="$work/$1"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DPython3_EXECUTABLE=/usr/bin/python3 \
    -DBRACKENHUE_RUNTIME_ARCHIVE="$runtime" -DBRACKENHUE_INSTALLER_ARCHIVE="$work/installer-$2.jar" >/dev/null
  cmake --build "$dir" --target brackenhue_win32 demo_java demo_javaw >/dev/null
}

# Build times: the payload steps (check, cut, resource compile, link) with
# the code already compiled, and the whole executable from scratch.
rm -rf "$work/full"
build_launcher full 556723119
start=$(now)
cmake --build "$work/full" --target brackenhue-setup >/dev/null 2>&1
payload_build=$(elapsed "$start")
rm -rf "$work/full-scratch"
start=$(now)
build_launcher full-scratch 556723119
cmake --build "$work/full-scratch" --target brackenhue-setup >/dev/null 2>&1
scratch_build=$(elapsed "$start")
rm -rf "$work/full-scratch"
build_launcher small 20000000
cmake --build "$work/small" --target brackenhue-setup >/dev/null 2>&1

"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
[ -s "$wine_dir/display" ] && export DISPLAY=":$(cat "$wine_dir/display")"

# Runs "-x" in a fresh folder, sampling the launcher's anonymous memory
# (RssAnon of its Wine process); prints "seconds peak_kib".
extract() {  # BUILD_DIR
  local run="$work/run"
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run"
  local start peak=0 pid kib
  sync  # earlier runs' dirty pages are written back outside the timing
  start=$(now)
  wine "$1/bin/brackenhue-setup.exe" -x >/dev/null 2>&1 &
  local wine_pid=$!
  while kill -0 $wine_pid 2>/dev/null; do
    for pid in $(pgrep -f 'brackenhue-setup.exe' || true); do
      kib=$(awk '/^RssAnon:/ {print $2}' /proc/$pid/status 2>/dev/null || true)
      [ -n "$kib" ] && [ "$kib" -gt "$peak" ] && peak=$kib
    done
    sleep 0.01
  done
  wait $wine_pid
  local seconds
  seconds=$(elapsed "$start")
  cmp -s brackenhue.jar "$2" || { echo "extracted jar differs from the input" >&2; exit 1; }
  cd "$work"
  echo "$seconds $peak"
}

copy() {  # FILE
  rm -f "$work/copy.jar"
  local start
  sync
  start=$(now)
  cp "$1" "$work/copy.jar"
  elapsed "$start"
}

# Wine's own start-up and shut-down, for reference: a small program that
# prints a few lines and ends.
startup() {
  local start
  start=$(now)
  wine "$work/full/resources/demo/jre-bin/java.exe" -version >/dev/null 2>&1
  elapsed "$start"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

full_jar="$work/installer-556723119.jar"
small_jar="$work/installer-20000000.jar"
extract "$work/full" "$full_jar" >/dev/null  # warm the caches once
x_times=() cp_times=() full_peaks=() small_peaks=() start_times=()
for i in $(seq "$runs"); do
  read -r seconds peak < <(extract "$work/full" "$full_jar")
  x_times+=("$seconds")
  full_peaks+=("$peak")
  cp_times+=("$(copy "$full_jar")")
  start_times+=("$(startup)")
  read -r seconds peak < <(extract "$work/small" "$small_jar")
  small_peaks+=("$peak")
done
x=$(printf '%s\n' "${x_times[@]}" | median)
c=$(printf '%s\n' "${cp_times[@]}" | median)
w=$(printf '%s\n' "${start_times[@]}" | median)
full_peak=$(printf '%s\n' "${full_peaks[@]}" | sort -n | tail -1)
small_peak=$(printf '%s\n' "${small_peaks[@]}" | sort -n | tail -1)

echo "runs: $runs (medians of times, maxima of memory)"
printf 'launcher size, full payloads: %s bytes\n' "$(stat -c %s "$work/full/bin/brackenhue-setup.exe")"
printf 'build, payload steps only:    %.1f s\n' "$payload_build"
printf 'build, from scratch:          %.1f s\n' "$scratch_build"
printf -- '-x under Wine, 67 chunks:     %.2f s   (runs: %s)\n' "$x" "${x_times[*]}"
printf 'cp of the same jar:           %.2f s   (runs: %s)\n' "$c" "${cp_times[*]}"
printf 'ratio -x / cp:                %.2f\n' "$(echo "$x / $c" | bc -l)"
printf 'Wine start-up alone:          %.2f s   (runs: %s)\n' "$w" "${start_times[*]}"
printf 'ratio (-x - start-up) / cp:   %.2f\n' "$(echo "($x - $w) / $c" | bc -l)"
printf 'peak RssAnon, 67 chunks:      %s KiB\n' "$full_peak"
printf 'peak RssAnon, 3 chunks:       %s KiB\n' "$small_peak"
printf 'growth:                       %s KiB\n' "$((full_peak - small_peak))"
