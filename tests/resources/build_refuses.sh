#!/bin/sh
# A build around a broken payload input must stop with a message that names
# the setting, the file and the broken rule.
# usage: build_refuses.sh SOURCE_DIR WORK_DIR
set -u
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }

# A missing file: configuring fails and names the setting.
if cmake -S "$src" -B "$work/missing" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
    -DBUILD_TESTING=OFF -DBRACKENHUE_INSTALLER_ARCHIVE="$work/nowhere.jar" >"$work/missing.log" 2>&1; then
  fail "configuring with a missing installer archive succeeded"
fi
# CMake wraps long messages, so the parts are looked for one by one.
grep -q "BRACKENHUE_INSTALLER_ARCHIVE: no such file:" "$work/missing.log" && grep -q "nowhere.jar" "$work/missing.log" ||
  { cat "$work/missing.log"; fail "no message naming the setting and the file"; }

# A jar with a comment: the build stops at the check.
printf 'PK\005\006\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\004\000abcd' >"$work/broken.jar"
cmake -S "$src" -B "$work/broken" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DBUILD_TESTING=OFF -DBRACKENHUE_INSTALLER_ARCHIVE="$work/broken.jar" >"$work/broken.log" 2>&1 ||
  { cat "$work/broken.log"; fail "configuring with a broken installer archive failed"; }
if cmake --build "$work/broken" --target brackenhue-setup >>"$work/broken.log" 2>&1; then
  fail "the launcher was built around a broken installer archive"
fi
grep -q "error: BRACKENHUE_INSTALLER_ARCHIVE: $work/broken.jar: its last 22 bytes are not an end-of-central-directory record" \
  "$work/broken.log" || { cat "$work/broken.log"; fail "no message naming the setting, file and rule"; }
[ ! -e "$work/broken/bin/brackenhue-setup.exe" ] || fail "an executable was left behind"
echo "refused as expected"
