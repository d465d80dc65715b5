#!/usr/bin/env bash
# What the runtime archive's compression costs at every start: a realistic
# runtime (the host JDK's jlink image of the modules an installer needs,
# about 154 files and 125 MB, links followed, its bin replaced by the demo
# stand-ins java.exe and javaw.exe, its own release file) made into an
# archive by resources/make_runtime.py with each compression (lzma, zlib,
# none, and each again with CRCCheck off, to see what that check costs);
# then, alternating, each archive unpacking under Wine into a fresh folder,
# and the plain reference, bench/runtime_writer.cpp (cross-compiled here),
# writing the same files from one mapped file in 8 MiB WriteFile calls.
# Whole processes are timed; medians, and ratios to the reference.
# usage: RUNS=5 bench/runtime_compression.sh [WORK_DIR]   (about 1.5 GB)
#   REUSE=1      time the runtime and archives of an earlier run again
#   STANDIN_DIR  the stand-in java.exe and javaw.exe (default build/resources/demo/jre-bin)
#   JDK          the JDK whose jlink makes the runtime (default /usr/lib/jvm/java-17-openjdk-amd64)
#   WINEPREFIX   the Wine prefix (default WORK_DIR/prefix, made on first use)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/bench/runtime-compression}
runs=${RUNS:-5}
jdk=${JDK:-/usr/lib/jvm/java-17-openjdk-amd64}
standins=${STANDIN_DIR:-$root/build/resources/demo/jre-bin}
[ -f "$standins/java.exe" ] && [ -f "$standins/javaw.exe" ] ||
  { echo "no stand-in java.exe and javaw.exe in $standins (build the main tree or set STANDIN_DIR)" >&2; exit 1; }
[ -x "$jdk/bin/jlink" ] || { echo "no jlink in $jdk (set JDK)" >&2; exit 1; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
med() { printf '%s\n' "$@" | median; }

# The runtime.
folder="$work/runtime"
. "$root/bench/realistic_runtime.sh"
make_runtime_folder() { realistic_runtime "$folder" "$standins/java.exe" "$standins/javaw.exe" "$jdk"; }

# The archives, and how long each took to make (the build time it adds).
kinds=(lzma zlib none lzma-nocrc zlib-nocrc none-nocrc)
declare -A made_in
make_archive() {  # KIND
  local options=(--compression "${1%-nocrc}" --crc-check on) start
  [ "$1" = "${1%-nocrc}" ] || options=(--compression "${1%-nocrc}" --crc-check off)
  mkdir -p "$work/$1"
  rm -rf "$work/$1/jre_x64.exe" "$work/$1.work"
  start=$(now)
  python3 "$root/resources/make_runtime.py" --setting bench --folder "$folder" --work "$work/$1.work" \
    --output "$work/$1/jre_x64.exe" "${options[@]}"
  made_in[$1]=$(printf '%.1fs' "$(elapsed "$start")")
  rm -rf "$work/$1.work"
}

reuse=${REUSE:-0}
for kind in "${kinds[@]}"; do
  [ -s "$work/$kind/jre_x64.exe" ] || reuse=0
  made_in[$kind]=-
done
if [ "$reuse" != 1 ]; then
  make_runtime_folder
  for kind in "${kinds[@]}"; do make_archive "$kind"; done
fi

# The reference and its input: every file's bytes in one file, and the list
# of folders and files in the order the archive has them.
x86_64-w64-mingw32-g++ -O2 -static -s -municode -mwindows -o "$work/runtime_writer.exe" \
  "$root/bench/runtime_writer.cpp" -lshell32
python3 - "$folder" "$work/files.list" "$work/files.bin" <<'EOF'
import os, sys
root, listing, data = sys.argv[1:]
with open(listing, "w", encoding="utf-8", newline="\n") as names, open(data, "wb") as out:
    for here, folders, files in os.walk(root):
        folders.sort()
        relative = os.path.relpath(here, root)
        if relative != ".":
            names.write("D\t%s\n" % relative.replace(os.sep, "\\"))
        for name in sorted(files):
            path = os.path.join(here, name)
            size = os.path.getsize(path)
            names.write("F\t%d\t%s\n" % (size, os.path.relpath(path, root).replace(os.sep, "\\")))
            with open(path, "rb") as f:
                out.write(f.read())
EOF
mkdir -p "$work/reference"

. "$root/tests/wine/loader.sh"
export WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
# A persistent wineserver, so no run pays for starting one; it needs the
# prefix made first, and no server of the prefix running.
[ -d "$WINEPREFIX" ] || "$wine" wineboot >/dev/null 2>&1 </dev/null
wineserver -k >/dev/null 2>&1 </dev/null || true
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 </dev/null || true' EXIT
"$wine" wineboot >/dev/null 2>&1 </dev/null

# unpack KIND: runs KIND's archive (or the reference) as a whole process
# into a fresh folder; prints the seconds. Earlier runs' dirty pages are
# written back first, outside the timing.
unpack() {
  local start code=0
  rm -rf "$work/$1/jre"
  sync
  cd "$work"
  start=$(now)
  if [ "$1" = reference ]; then
    "$wine" runtime_writer.exe files.list files.bin 'reference\jre' >/dev/null 2>&1 </dev/null || code=$?
  else
    "$wine" "$1/jre_x64.exe" >/dev/null 2>&1 </dev/null || code=$?
  fi
  elapsed "$start"
  [ "$code" = 0 ] || { echo "$1 exited with $code" >&2; exit 1; }
}

# Once each, untimed: warms the caches and shows each writes the runtime.
for kind in reference "${kinds[@]}"; do
  unpack "$kind" >/dev/null
  diff -r "$folder" "$work/$kind/jre" >/dev/null || { echo "$kind did not write the runtime as it is" >&2; exit 1; }
done

declare -A times
for _ in $(seq "$runs"); do
  for kind in "${kinds[@]}"; do
    times[reference]+=" $(unpack reference)"
    times[$kind]+=" $(unpack "$kind")"
  done
done

# shellcheck disable=SC2086  # the samples are words
reference=$(med ${times[reference]})
echo "runs: $runs (medians; the reference runs before each archive); $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runtime: $(du -sb "$folder" | cut -f1) bytes in $(find "$folder" -type f | wc -l) files; $(makensis -VERSION)"
printf '%-12s %14s %10s %10s %7s   %s\n' kind "archive bytes" "made in" unpack ratio samples
printf '%-12s %14s %10s %9.3fs %7s  %s\n' reference "$(stat -c %s "$work/files.bin")" - "$reference" 1.00 \
  "${times[reference]}"
for kind in "${kinds[@]}"; do
  # shellcheck disable=SC2086
  median=$(med ${times[$kind]})
  printf '%-12s %14s %10s %9.3fs %7.2f  %s\n' "$kind" "$(stat -c %s "$work/$kind/jre_x64.exe")" \
    "${made_in[$kind]}" "$median" "$(echo "$median / $reference" | bc -l)" "${times[$kind]}"
done
for kind in lzma zlib none; do
  # shellcheck disable=SC2086
  printf 'CRCCheck on costs %s: %.1f %% of its unpack\n' "$kind" \
    "$(echo "100 * (1 - $(med ${times[$kind-nocrc]}) / $(med ${times[$kind]}))" | bc -l)"
done
rm -rf "$work"/*/jre
