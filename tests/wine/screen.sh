# Sourced after loader.sh, with $dir and WINEPREFIX set: a Wine prefix for
# tests and an X server to show its windows on.

# With no window manager on Xvfb, Wine waits two seconds for one to withdraw
# each window it hides (every message box that closes). Windows that Wine
# places itself need no such wait.
unmanaged_windows() {
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
  wineserver -w
}

# Creates WINEPREFIX once; callers running at the same time wait for it.
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

# start_xvfb GEOMETRY DISPLAY_FILE PID_FILE: an Xvfb in a session of its own
# on the first free display, detached from our output. Its process id goes
# to PID_FILE at once; once it is up, DISPLAY_FILE holds the display number.
# Exits the script when it has not started within ten seconds.
start_xvfb() {
  rm -f "$2" "$2.new"
  setsid Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$2.new" >/dev/null 2>&1 </dev/null &
  echo $! >"$3"
  tries=0
  while [ ! -s "$2.new" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then echo "Xvfb did not start" >&2; exit 1; fi
    sleep 0.1
  done
  tr -d '\n' <"$2.new" >"$2"
  rm -f "$2.new"
}
