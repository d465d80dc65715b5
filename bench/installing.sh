#!/usr/bin/env bash
# The installing mode under Wine, side by side in one run:
#   - process start to the splash window being mapped on the X display,
#     against a bare program that shows one 420 x 300 popup (bench/map_watch.c,
#     which waits on X MapNotify events, no polling), alternating;
#   - whole installing runs against five trivial child programs, and the
#     launcher's own overhead (bench/installing_bench.cpp).
# usage: RUNS=11 bench/installing.sh   (after scripts/test; needs libx11-dev)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_dir="$root/build/wine"
runs=${RUNS:-11}
mkdir -p "$root/build/bench"
watch="$root/build/bench/map_watch"
cc -O2 -o "$watch" "$root/bench/map_watch.c" -lX11
"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT
. "$root/tests/wine/loader.sh"
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
[ -s "$wine_dir/display" ] && export DISPLAY=":$(cat "$wine_dir/display")"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The launcher works in a TMP of its own; it is ended once its window shows.
scratch="$root/build/bench/tmp"
mkdir -p "$scratch"
tmp_windows=$("$wine" winepath -w "$scratch" 2>/dev/null | tr -d '\r')
bin="$root/build/bin"
"$watch" 420 300 "$wine" "$bin/bare_popup.exe" >/dev/null  # warm-up
splash=() popup=()
for _ in $(seq "$runs"); do
  splash+=("$("$watch" 420 300 env TMP="$tmp_windows" "$wine" "$bin/launcher-java18.exe")")
  popup+=("$("$watch" 420 300 "$wine" "$bin/bare_popup.exe")")
done
rm -rf "$scratch"
s=$(printf '%s\n' "${splash[@]}" | median)
p=$(printf '%s\n' "${popup[@]}" | median)
printf '%-40s median %8.1f ms   samples: %s\n' "start to splash mapped" "$s" "${splash[*]}"
printf '%-40s median %8.1f ms   samples: %s\n' "start to bare popup mapped" "$p" "${popup[*]}"
printf 'ratio splash / popup: %.2f\n' "$(echo "$s / $p" | bc -l)"

# The launchers' search trace comes through too: leave it out.
"$wine_dir/run" "$bin/installing_bench.exe" "$("$wine" winepath -w "$bin" 2>/dev/null | tr -d '\r')" "$runs" |
  grep -v -e '^Searching for a JVM' -e '^ - trying'
