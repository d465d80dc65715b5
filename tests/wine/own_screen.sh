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
mkdir -p "$dir"

rm -f "$dir/display"
setsid Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 </dev/null &
xvfb=$!
stop() {
  wineserver -k >/dev/null 2>&1 </dev/null
  kill "$xvfb" 2>/dev/null
}
trap stop EXIT
tries=0
while [ ! -s "$dir/display" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ]; then echo "Xvfb did not start" >&2; exit 1; fi
  sleep 0.1
done
DISPLAY=":$(tr -d '\n' <"$dir/display")"
export DISPLAY
echo "Xvfb $size on $DISPLAY"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating Wine prefix $WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  # No window manager: let Wine place its windows itself (see session.sh).
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
  wineserver -w
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
wineserver -p >/dev/null 2>&1 </dev/null

# Wine's long-lived helpers would hold our output open: write to files.
"$wine" "$@" >"$dir/out" 2>"$dir/err" </dev/null
status=$?
cat "$dir/out"
cat "$dir/err" >&2
exit $status
