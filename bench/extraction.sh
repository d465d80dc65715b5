#!/usr/bin/env bash
# Extraction benchmark: builds the launcher around full-size payloads (a
# 23,609,386-byte runtime archive and a 556,723,119-byte installer ZIP, 67
# chunks) and around a 3-chunk one, then measures in one run:
#   - the build time of the full-size executable (payload steps only, and
#     from scratch);
#   - "brackenhue-setup.exe -x" under Wine against cp of the same jar on the
#     same file system, alternating, as whole processes without any sampling,
#     with the write-back excluded and then included in the timing;
#   - in separate runs, the peak private (anonymous) memory of the launcher
#     process for both.
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
. "$root/tests/wine/loader.sh"
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
[ -s "$wine_dir/display" ] && export DISPLAY=":$(cat "$wine_dir/display")"

# Every timed command runs as a whole process, with nothing else going on:
# earlier runs' dirty pages are written back first (sync, outside the
# timing). With WRITEBACK=1 a sync after the command is timed too, so the
# figure includes getting the bytes onto the disk.
timed() {  # WRITEBACK COMMAND...
  local writeback=$1 start
  shift
  sync
  start=$(now)
  "$@" >/dev/null 2>&1
  [ "$writeback" = 1 ] && sync
  elapsed "$start"
}

fresh_run_dir() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
}

extract() {  # WRITEBACK BUILD_DIR JAR
  fresh_run_dir
  cd "$work/run"
  local seconds
  seconds=$(timed "$1" "$wine" "$2/bin/brackenhue-setup.exe" -x)
  cmp -s brackenhue.jar "$3" || { echo "extracted jar differs from the input" >&2; exit 1; }
  cd "$work"
  echo "$seconds"
}

copy() {  # WRITEBACK FILE
  rm -f "$work/copy.jar"
  timed "$1" cp "$2" "$work/copy.jar"
}

# Peak private memory (RssAnon of the launcher's Wine process), sampled
# every 10 ms in runs of its own: the sampling would disturb a timed run.
peak_memory() {  # BUILD_DIR
  fresh_run_dir
  cd "$work/run"
  local peak=0 pid kib
  "$wine" "$1/bin/brackenhue-setup.exe" -x >/dev/null 2>&1 &
  local wine_pid=$!
  while kill -0 $wine_pid 2>/dev/null; do
    for pid in $(pgrep -f 'brackenhue-setup.exe' || true); do
      kib=$(awk '/^RssAnon:/ {print $2}' /proc/$pid/status 2>/dev/null || true)
      [ -n "$kib" ] && [ "$kib" -gt "$peak" ] && peak=$kib
    done
    sleep 0.01
  done
  wait $wine_pid
  cd "$work"
  echo "$peak"
}

# Wine's own start-up and shut-down, for reference: a small program that
# prints a few lines and ends.
startup() { timed 0 "$wine" "$work/full/resources/demo/jre-bin/java.exe" -version; }

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
med() { printf '%s\n' "$@" | median; }

full_jar="$work/installer-556723119.jar"
small_jar="$work/installer-20000000.jar"
extract 0 "$work/full" "$full_jar" >/dev/null  # warm the caches once
x0=() c0=() x1=() c1=() w=() full_peaks=() small_peaks=()
# Alternating: -x, then cp, without and then with the write-back.
for i in $(seq "$runs"); do
  x0+=("$(extract 0 "$work/full" "$full_jar")")
  c0+=("$(copy 0 "$full_jar")")
  x1+=("$(extract 1 "$work/full" "$full_jar")")
  c1+=("$(copy 1 "$full_jar")")
  w+=("$(startup)")
done
for i in $(seq "$runs"); do
  full_peaks+=("$(peak_memory "$work/full")")
  small_peaks+=("$(peak_memory "$work/small")")
done
full_peak=$(printf '%s\n' "${full_peaks[@]}" | sort -n | tail -1)
small_peak=$(printf '%s\n' "${small_peaks[@]}" | sort -n | tail -1)

echo "runs: $runs (medians of times, maxima of memory)"
printf 'launcher size, full payloads: %s bytes\n' "$(stat -c %s "$work/full/bin/brackenhue-setup.exe")"
printf 'build, payload steps only:    %.1f s\n' "$payload_build"
printf 'build, from scratch:          %.1f s\n' "$scratch_build"
echo "write-back excluded:"
printf '  -x under Wine, 67 chunks:   %.2f s   (runs: %s)\n' "$(med "${x0[@]}")" "${x0[*]}"
printf '  cp of the same jar:         %.2f s   (runs: %s)\n' "$(med "${c0[@]}")" "${c0[*]}"
printf '  ratio -x / cp:              %.2f\n' "$(echo "$(med "${x0[@]}") / $(med "${c0[@]}")" | bc -l)"
echo "write-back included (sync inside the timing):"
printf '  -x under Wine, 67 chunks:   %.2f s   (runs: %s)\n' "$(med "${x1[@]}")" "${x1[*]}"
printf '  cp of the same jar:         %.2f s   (runs: %s)\n' "$(med "${c1[@]}")" "${c1[*]}"
printf '  ratio -x / cp:              %.2f\n' "$(echo "$(med "${x1[@]}") / $(med "${c1[@]}")" | bc -l)"
printf 'Wine start-up alone:          %.2f s   (runs: %s)\n' "$(med "${w[@]}")" "${w[*]}"
printf 'peak RssAnon, 67 chunks:      %s KiB\n' "$full_peak"
printf 'peak RssAnon, 3 chunks:       %s KiB\n' "$small_peak"
printf 'growth:                       %s KiB\n' "$((full_peak - small_peak))"
