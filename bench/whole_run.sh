#!/usr/bin/env bash
# The whole installing run at real sizes, and the runtime archive the build
# makes, measured in one run:
#   - a realistic runtime (bench/realistic_runtime.sh: the host JDK's jlink
#     image, 154 files, 125 MB) whose java is the stand-in program and whose
#     javaw the recording stand-in: the time makensis takes for it (the
#     build time the archive adds) and the archive's size against the
#     folder's, not solid and solid;
#   - a launcher built around that folder and a 556,723,119-byte installer
#     jar, against bench/installing_reference.cpp around the same image:
#     whole runs, alternating, and where the time goes: start to the probe,
#     the probe to javaw's start, javaw's start to the end
#     (bench/whole_run_bench.cpp), in a Wine prefix whose windows stay
#     unmanaged (the test session's).
# usage: RUNS=11 bench/whole_run.sh [WORK_DIR]   (after scripts/test; ~3 GB)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/bench/whole}
runs=${RUNS:-11}
mkdir -p "$work"
work=$(cd "$work" && pwd)
bin="$root/build/bin"
wine_dir="$root/build/wine"
[ -x "$wine_dir/run" ] && [ -x "$bin/whole_run_bench.exe" ] ||
  { echo "configure and build the main tree first (scripts/test)" >&2; exit 1; }
now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc; }

# The runtime folder; java stamps the moment of its probe.
folder="$work/runtime"
printf 'stamp BENCH_PROBE_STAMP\nerr java version "1.8.0_00"\n' >"$work/java.answer"
. "$root/bench/realistic_runtime.sh"
realistic_runtime "$folder" "$bin/fixture_program.exe" "$bin/fixture_javaw.exe"
cp "$work/java.answer" "$folder/bin/java.answer"
jar="$root/build/bench/installer-556723119.jar"
[ -s "$jar" ] || python3 "$root/tests/payloads/make_sized_zip.py" 556723119 "$jar"

make_archive() {  # OUTPUT [--solid]
  local out=$1 start
  shift
  rm -rf "$out" "$out.work"
  start=$(now)
  python3 "$root/resources/make_runtime.py" --setting bench --folder "$folder" --work "$out.work" --output "$out" "$@"
  elapsed "$start"
}
plain_time=$(make_archive "$work/plain.exe")
solid_time=$(make_archive "$work/solid.exe" --solid)

# The launcher and the reference around the same payloads.
build="$work/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DPython3_EXECUTABLE=/usr/bin/python3 \
  -DBRACKENHUE_RUNTIME_FOLDER="$folder" -DBRACKENHUE_INSTALLER_ARCHIVE="$jar" >/dev/null
cmake --build "$build" --target brackenhue-setup installing_reference >/dev/null

"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT
. "$root/tests/wine/loader.sh"
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
[ -s "$wine_dir/display" ] && export DISPLAY=":$(cat "$wine_dir/display")"
windows() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
scratch="$work/scratch"
rm -rf "$scratch"

echo "runs: $runs (medians); $(nproc) cores; $(df -T "$work" | awk 'NR == 2 {print $2}') under $work"
printf 'runtime folder:                 %s bytes in %s files\n' "$(du -sb "$folder" | cut -f1)" \
  "$(find "$folder" -type f | wc -l)"
printf 'archive, LZMA not solid:        %s bytes, made in %.1f s\n' "$(stat -c %s "$work/plain.exe")" "$plain_time"
printf 'archive, LZMA solid:            %s bytes, made in %.1f s\n' "$(stat -c %s "$work/solid.exe")" "$solid_time"
printf 'solid saves:                    %.2f %%\n' \
  "$(echo "100 * (1 - $(stat -c %s "$work/solid.exe") / $(stat -c %s "$work/plain.exe"))" | bc -l)"
printf 'launcher:                       %s bytes\n' "$(stat -c %s "$build/bin/brackenhue-setup.exe")"
"$wine_dir/run" "$bin/whole_run_bench.exe" "$(windows "$build/bin/brackenhue-setup.exe")" \
  "$(windows "$build/bin/installing_reference.exe")" "$(windows "$scratch")" "$runs" |
  grep -v -e '^Searching for a JVM' -e '^ - trying'
rm -rf "$scratch"
