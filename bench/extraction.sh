#!/usr/bin/env bash
# Extraction benchmark: builds the launcher around full-size payloads (a
# 23,609,386-byte runtime archive and a 556,723,119-byte installer ZIP, 67
# chunks) and around a 3-chunk one, then measures in one run:
#   - the build time of the full-size executable (payload steps only, and
#     from scratch);
#   - "brackenhue-setup.exe -x" under Wine against, alternating, the same
#     launcher built from the commit before the temporary file (BASELINE,
#     989f940: one open per chunk straight into the target), a reference
#     program with the same image that writes the chunks plainly into a new
#     file (bench/extraction_reference.cpp), and cp of the same jar on the
#     same file system (for information: it copies inside the kernel); as
#     whole processes without any sampling, with the write-back excluded and
#     then included in the timing;
#   - in separate runs, the peak private (anonymous) memory of the launcher
#     process for both.
# The payloads are generated here and never committed.
# usage: bench/extraction.sh [WORK_DIR]   (default build/bench; needs ~4 GB)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/bench}
runs=${RUNS:-3}
baseline=${BASELINE:-989f940}
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

build_launcher() {  # NAME INSTALLER_SIZE [SOURCE_DIR]
  local dir="$work/$1" source=${3:-$root}
  cmake -S "$source" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DPython3_EXECUTABLE=/usr/bin/python3 \
    -DBRACKENHUE_RUNTIME_ARCHIVE="$runtime" -DBRACKENHUE_INSTALLER_ARCHIVE="$work/installer-$2.jar" >/dev/null
  cmake --build "$dir" --target brackenhue_win32 demo_java demo_javaw >/dev/null
}

# Build times: the payload steps (check, cut, resource compile, link) with
# the code already compiled, and the whole executable from scratch. With
# REUSE=1 the builds of an earlier run are timed again as they are.
payload_build=0 scratch_build=0
if [ "${REUSE:-0}" != 1 ] || [ ! -x "$work/baseline/bin/brackenhue-setup.exe" ]; then
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
cmake --build "$work/full" --target extraction_reference >/dev/null 2>&1
# The baseline's sources, checked out beside the work tree, built around the
# same payloads.
rm -rf "$work/baseline-src"
git -C "$root" worktree prune
git -C "$root" worktree add --detach "$work/baseline-src" "$baseline" >/dev/null 2>&1
build_launcher baseline 556723119 "$work/baseline-src"
cmake --build "$work/baseline" --target brackenhue-setup >/dev/null 2>&1
git -C "$root" worktree remove --force "$work/baseline-src"
fi

"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT
. "$root/tests/wine/loader.sh"
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
[ -s "$wine_dir/display" ] && export DISPLAY=":$(cat "$wine_dir/display")"

# Every timed command runs as a whole process, with nothing else going on:
# earlier runs' dirty pages are written back first (sync, outside the
# timing). With WRITEBACK set to the output file, an fsync of that file
# (sync FILE) after the command is timed too, so the figure includes getting
# its bytes to the disk, and only its bytes.
timed() {  # WRITEBACK COMMAND...
  local writeback=$1 start
  shift
  sync
  start=$(now)
  "$@" >/dev/null 2>&1
  [ "$writeback" != 0 ] && sync "$writeback"
  elapsed "$start"
}

fresh_run_dir() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
}

extract() {  # WRITEBACK PROGRAM JAR [ARGUMENT]
  fresh_run_dir
  cd "$work/run"
  local seconds
  local writeback=0
  [ "$1" = 1 ] && writeback="$work/run/brackenhue.jar"
  seconds=$(timed "$writeback" "$wine" "$2" ${4-})
  cmp -s brackenhue.jar "$3" || { echo "extracted jar differs from the input: $2" >&2; exit 1; }
  cd "$work"
  echo "$seconds"
}

copy() {  # WRITEBACK FILE
  rm -f "$work/copy.jar"
  local writeback=0
  [ "$1" = 1 ] && writeback="$work/copy.jar"
  timed "$writeback" cp "$2" "$work/copy.jar"
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
launcher="$work/full/bin/brackenhue-setup.exe"
base="$work/baseline/bin/brackenhue-setup.exe"
reference="$work/full/bin/extraction_reference.exe"
extract 0 "$launcher" "$full_jar" -x >/dev/null  # warm the caches once
extract 0 "$base" "$full_jar" -x >/dev/null
extract 0 "$reference" "$full_jar" >/dev/null
x0=() b0=() r0=() c0=() x1=() b1=() r1=() c1=() w=() full_peaks=() small_peaks=()
# Alternating: -x, the baseline's -x, the reference, cp; without and then
# with the write-back.
for i in $(seq "$runs"); do
  x0+=("$(extract 0 "$launcher" "$full_jar" -x)")
  b0+=("$(extract 0 "$base" "$full_jar" -x)")
  r0+=("$(extract 0 "$reference" "$full_jar")")
  c0+=("$(copy 0 "$full_jar")")
  x1+=("$(extract 1 "$launcher" "$full_jar" -x)")
  b1+=("$(extract 1 "$base" "$full_jar" -x)")
  r1+=("$(extract 1 "$reference" "$full_jar")")
  c1+=("$(copy 1 "$full_jar")")
  w+=("$(startup)")
done
for i in $(seq "$runs"); do
  full_peaks+=("$(peak_memory "$work/full")")
  small_peaks+=("$(peak_memory "$work/small")")
done
full_peak=$(printf '%s\n' "${full_peaks[@]}" | sort -n | tail -1)
small_peak=$(printf '%s\n' "${small_peaks[@]}" | sort -n | tail -1)
ratio() { printf '%.2f' "$(echo "$(med $1) / $(med $2)" | bc -l)"; }

echo "runs: $runs (medians of times, maxima of memory); baseline $baseline"
echo "file system of $work: $(df -T "$work" | awk 'NR == 2 {print $2}')"
printf 'launcher size, full payloads: %s bytes\n' "$(stat -c %s "$launcher")"
printf 'build, payload steps only:    %.1f s\n' "$payload_build"
printf 'build, from scratch:          %.1f s\n' "$scratch_build"
for pass in 0 1; do
  if [ $pass = 0 ]; then echo "write-back excluded:"; else echo "write-back included (fsync of the output inside the timing):"; fi
  eval "x=(\"\${x$pass[@]}\") b=(\"\${b$pass[@]}\") r=(\"\${r$pass[@]}\") c=(\"\${c$pass[@]}\")"
  printf '  -x, 67 chunks:               %.3f s   (runs: %s)\n' "$(med "${x[@]}")" "${x[*]}"
  printf '  -x of the baseline:          %.3f s   (runs: %s)\n' "$(med "${b[@]}")" "${b[*]}"
  printf '  reference program:           %.3f s   (runs: %s)\n' "$(med "${r[@]}")" "${r[*]}"
  printf '  cp (information only):       %.3f s   (runs: %s)\n' "$(med "${c[@]}")" "${c[*]}"
  printf '  ratio -x / baseline:         %s\n' "$(ratio "${x[*]}" "${b[*]}")"
  printf '  ratio -x / reference:        %s\n' "$(ratio "${x[*]}" "${r[*]}")"
done
printf 'Wine start-up alone:          %.2f s   (runs: %s)\n' "$(med "${w[@]}")" "${w[*]}"
printf 'peak RssAnon, 67 chunks:      %s KiB\n' "$full_peak"
printf 'peak RssAnon, 3 chunks:       %s KiB\n' "$small_peak"
printf 'growth:                       %s KiB\n' "$((full_peak - small_peak))"
