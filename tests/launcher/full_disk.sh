#!/bin/sh
# "-x" into a folder on a full disk: exit 1, one line on standard error
# naming the file and the reason, no partial or temporary file, and an
# earlier jar of the same name untouched. The full disk is a small tmpfs,
# which needs root to mount; without it the test says so and is skipped.
#   full_disk.sh WINE_RUN LAUNCHER
set -u
run=$1 launcher=$2
work=$(mktemp -d)
disk="$work/disk"
mkdir -p "$disk"
cleanup() {
  umount "$disk" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=1m tmpfs "$disk" 2>"$work/mount.err"; then
  echo "SKIPPED: cannot mount a small tmpfs here (needs root): $(cat "$work/mount.err" 2>/dev/null)"
  exit 77
fi
printf 'the earlier jar\n' >"$disk/brackenhue.jar"
dd if=/dev/zero of="$disk/filler" bs=4k 2>/dev/null  # until the disk is full
cp "$launcher" "$work/setup.exe"

cd "$disk"
"$run" "$work/setup.exe" -x >"$work/out" 2>"$work/err"
status=$?
cd "$work"

failed=0
fail() { echo "FAIL: $*"; failed=1; }
[ $status -eq 1 ] || fail "exit code $status, not 1"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "standard error is not one line: $(cat "$work/err")"
grep -q 'brackenhue.jar' "$work/err" || fail "the line does not name the file: $(cat "$work/err")"
grep -qi 'space\|full' "$work/err" || fail "the line does not give the reason: $(cat "$work/err")"
[ "$(cat "$disk/brackenhue.jar")" = "the earlier jar" ] || fail "the earlier jar changed"
left=$(ls -A "$disk" | grep -v -x -e brackenhue.jar -e filler)
[ -z "$left" ] || fail "left on the disk: $left"
printf "standard error: %s\n" "$(cat "$work/err")"
[ $failed -eq 0 ] && echo "passed"
exit $failed
