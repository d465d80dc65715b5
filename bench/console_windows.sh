#!/usr/bin/env bash
# Looks at the screen while the Java search probes a slow java: a windowed
# program runs a verbose search whose only Java (on PATH) takes 3 s to answer
# "-version"; halfway through, every X window that is mapped is listed and a
# screenshot is taken. No console window may be among them.
# usage: bench/console_windows.sh   (after scripts/test; needs Xvfb, xwininfo, ImageMagick)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wine_dir="$root/build/wine"
out="$root/build/bench"
mkdir -p "$out"
# A display of our own, so the picture holds nothing but Wine's windows.
saved_display=${DISPLAY-}
unset DISPLAY
"$root/tests/wine/session.sh" start "$wine_dir" >/dev/null
trap '"$root/tests/wine/session.sh" stop "$wine_dir"' EXIT
export DISPLAY=":$(cat "$wine_dir/display")"

mapped() {
  local found=0 id rest
  while read -r id rest; do
    if xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then echo "  $id $rest"; found=1; fi
  done < <(xwininfo -root -tree | grep -E '^ +0x' || true)
  [ $found = 1 ] || echo "  (none)"
}

echo "mapped windows before:"
mapped
"$wine_dir/run" "$root/build/bin/java_search_bench.exe" slow >"$out/slow-search.trace" 2>&1 &
search=$!
sleep 2
echo "mapped windows 2 s into the search, while the probe runs:"
mapped
import -window root "$out/probe-screen.png"
wait $search
echo "trace:"
cat "$out/slow-search.trace"
echo "screenshot: $out/probe-screen.png"
if [ -n "$saved_display" ]; then export DISPLAY=$saved_display; fi
