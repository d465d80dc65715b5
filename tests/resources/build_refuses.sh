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

# A library jar, its manifest without Main-Class: java -jar cannot start it,
# so the build stops at the check.
python3 -c '
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as jar:
    jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
    jar.writestr("lib/Util.class", b"\xca\xfe\xba\xbe")
' "$work/broken.jar" || fail "could not make the library jar"
cmake -S "$src" -B "$work/broken" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DBUILD_TESTING=OFF -DBRACKENHUE_INSTALLER_ARCHIVE="$work/broken.jar" >"$work/broken.log" 2>&1 ||
  { cat "$work/broken.log"; fail "configuring with a broken installer archive failed"; }
if cmake --build "$work/broken" --target brackenhue-setup >>"$work/broken.log" 2>&1; then
  fail "the launcher was built around a broken installer archive"
fi
grep -q "error: BRACKENHUE_INSTALLER_ARCHIVE: $work/broken.jar: its manifest META-INF/MANIFEST.MF names no Main-Class, so java -jar cannot start it" \
  "$work/broken.log" || { cat "$work/broken.log"; fail "no message naming the setting, file and rule"; }
[ ! -e "$work/broken/bin/brackenhue-setup.exe" ] || fail "an executable was left behind"
echo "refused as expected"
