#!/bin/sh
# Runs one Windows program on a screen of a chosen size:
#   own_screen.sh WIDTHxHEIGHT DIR PROGRAM [ARGUMENT...]
# with an Xvfb and a Wine prefix (DIR/prefix, created once) of its own, since
# a running wineserver keeps the screen size it first saw. Both are stopped
# again at the end. Exits with the program's status.
set -u
size=$1 dir=$2
shift 2
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
. "$(dirname "$0")/loader.sh"
. "$(dirname "$0")/screen.sh"
mkdir -p "$dir"

stop() {
  wineserver -k >/dev/null 2>&1 </dev/null
  [ -s "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
}
trap stop EXIT
start_xvfb "${size}x24" "$dir/display" "$dir/xvfb.pid"
DISPLAY=":$(cat "$dir/display")"
export DISPLAY
echo "Xvfb $size on $DISPLAY"

make_prefix || exit 1
wineserver -p >/dev/null 2>&1 </dev/null

# Wine's long-lived helpers would hold our output open: write to files.
"$wine" "$@" >"$dir/out" 2>"$dir/err" </dev/null
status=$?
cat "$dir/out"
cat "$dir/err" >&2
exit $status
