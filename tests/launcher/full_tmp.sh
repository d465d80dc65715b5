#!/bin/sh
# Runs the installing-mode tests for a TMP on a full disk: mounts two small
# tmpfs, one too small for the runtime archive (4 MB) and one that holds the
# runtime but not a 20 MB installer (16 MB), and hands their Windows paths to
# the tests in FULL_TMP_SMALL and FULL_TMP_MEDIUM. Mounting needs root;
# without it the test says so and is skipped.
#   full_tmp.sh WINE_RUN INSTALLING_TESTS
set -u
run=$1 tests=$2
work=$(mktemp -d)
cleanup() {
  umount "$work/small" "$work/medium" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/small" "$work/medium"
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=4m tmpfs "$work/small" 2>"$work/mount.err" ||
   ! mount -t tmpfs -o size=16m tmpfs "$work/medium" 2>>"$work/mount.err"; then
  echo "SKIPPED: cannot mount a small tmpfs here (needs root): $(cat "$work/mount.err" 2>/dev/null)"
  exit 77
fi
# Wine's Z: is the Unix root.
FULL_TMP_SMALL="Z:$(printf '%s' "$work/small" | tr / '\\')"
FULL_TMP_MEDIUM="Z:$(printf '%s' "$work/medium" | tr / '\\')"
export FULL_TMP_SMALL FULL_TMP_MEDIUM
"$run" "$tests" --gtest_filter='Installing.FullTmpDisk*'
