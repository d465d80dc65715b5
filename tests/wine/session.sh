#!/bin/sh
# The test session's Wine and X server.
#   session.sh prefix DIR   create the Wine prefix DIR/prefix once (locked)
#   session.sh start DIR    prefix, a persistent wineserver, and an Xvfb of
#                           its own (its number goes to DIR/display), so two
#                           sessions never share a screen
#   session.sh stop DIR     stop both again
# Everything started here is detached from the caller's output, so ctest does
# not wait on pipes that a daemon holds open.
set -u
cmd=$1
dir=$2
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
mkdir -p "$dir"
. "$(dirname "$0")/loader.sh"
. "$(dirname "$0")/screen.sh"

stop_xvfb() {
  if [ -s "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
  fi
  rm -f "$dir/xvfb.pid" "$dir/display"
}

case $cmd in
  prefix)
    make_prefix
    ;;
  start)
    stop_xvfb
    start_xvfb 1280x1024x24 "$dir/display" "$dir/xvfb.pid"
    echo "Xvfb on :$(cat "$dir/display")"
    # Wine's desktop process, started below, must know the display too.
    DISPLAY=":$(cat "$dir/display")"
    export DISPLAY
    make_prefix || exit 1
    # A second drive, Q:, for tests that start from another drive letter.
    mkdir -p "$dir/drive-q"
    ln -sfn "$(cd "$dir/drive-q" && pwd)" "$WINEPREFIX/dosdevices/q:"
    wineserver -p >/dev/null 2>&1 </dev/null
    # Start Wine's own helper processes now, away from ctest's pipes.
    "$wine" wineboot >/dev/null 2>&1 </dev/null
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 </dev/null
    stop_xvfb
    ;;
  *)
    echo "usage: session.sh prefix|start|stop DIR" >&2
    exit 2
    ;;
esac
