#!/bin/sh
# The test session's Wine and X server.
#   session.sh prefix DIR   create the Wine prefix DIR/prefix once (locked)
#   session.sh start DIR    prefix, a persistent wineserver, and Xvfb when
#                           there is no DISPLAY (its number goes to DIR/display)
#   session.sh stop DIR     stop both again
# Everything started here is detached from the caller's output, so ctest does
# not wait on pipes that a daemon holds open.
set -u
cmd=$1
dir=$2
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
mkdir -p "$dir"
. "$(dirname "$0")/loader.sh"

# With no window manager on Xvfb, Wine waits two seconds for one to withdraw
# each window it hides (every message box that closes). Windows that Wine
# places itself need no such wait.
unmanaged_windows() {
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
  wineserver -w
}

make_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "creating Wine prefix $WINEPREFIX" >&2
      "$wine" wineboot -i >/dev/null 2>&1 </dev/null
      wineserver -w
      unmanaged_windows
    fi
  ) 9>"$dir/prefix.lock"
  [ -f "$WINEPREFIX/system.reg" ] || { echo "could not create the Wine prefix $WINEPREFIX" >&2; return 1; }
}

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
    if [ -z "${DISPLAY:-}" ]; then
      rm -f "$dir/display.new"
      setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
        3>"$dir/display.new" >/dev/null 2>&1 </dev/null &
      echo $! >"$dir/xvfb.pid"
      tries=0
      while [ ! -s "$dir/display.new" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then echo "Xvfb did not start" >&2; exit 1; fi
        sleep 0.1
      done
      tr -d '\n' <"$dir/display.new" >"$dir/display"
      rm -f "$dir/display.new"
      echo "Xvfb on :$(cat "$dir/display")"
      # Wine's desktop process, started below, must know the display too.
      DISPLAY=":$(cat "$dir/display")"
      export DISPLAY
    fi
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
