#!/usr/bin/env bash
# Processor time of the wait before the clean-up while a program runs from
# the workspace, with 15 and 55 processes running: the launcher's own share
# (bench/wait_cpu_bench.cpp) and wineserver's, for the wait on process
# handles against looking through the processes four times a second.
# usage: SECONDS_EACH=30 bench/wait_cpu.sh   (after scripts/test)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_dir="$root/build/wine"
seconds=${SECONDS_EACH:-30}
"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT
. "$root/tests/wine/loader.sh"
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
bin="$root/build/bin"
stand_in=$("$wine" winepath -w "$bin/fixture_program.exe" 2>/dev/null | tr -d '\r')
ticks=$(getconf CLK_TCK)
# Processor time of this prefix's wineserver, in ms.
server_ms() {
  local pid
  pid=$(pgrep -f -n '^/usr/lib/wine/wineserver' || pgrep -n wineserver)
  awk -v t="$ticks" '{ print ($14 + $15) * 1000 / t }' "/proc/$pid/stat"
}
for processes in 15 55; do
  for mode in poll handles; do
    before=$(server_ms)
    line=$("$wine_dir/run" "$bin/wait_cpu_bench.exe" "$mode" "$stand_in" "$processes" "$seconds")
    after=$(server_ms)
    printf '%s; wineserver %.2f %% of a core\n' "$line" \
      "$(echo "($after - $before) * 100 / (($seconds + 2) * 1000)" | bc -l)"
  done
done
