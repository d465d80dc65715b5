#!/usr/bin/env bash
# Runtime archives made by the build, as a release engineer makes them:
#  - a release build without tests, around a runtime folder and an installer
#    jar, with a PATH that holds only the 64-bit cross compiler, CMake,
#    Ninja, Python and makensis (no Wine, no X server, no JDK);
#  - built twice, in two folders, it gives the same archive and launcher;
#  - the archive is made again when a file of the folder changes, is added
#    or removed, or is replaced by one with an older date, when the zip is
#    replaced so, when makensis changes, or BRACKENHUE_RUNTIME_COMPRESSION
#    changes, and not otherwise, also for a folder whose path holds "[",
#    "]", "*" and "?"; its facts for the launcher are written beside it;
#  - without makensis the build stops with one line naming it;
#  - with signing set, the archive inside the launcher verifies against the
#    certificate;
#  - two runtime settings at once are refused, naming both, and so is a
#    compression that does not exist, naming the ones that do.
# usage: runtime_builds.sh SOURCE_DIR WORK_DIR JAR JAVA_EXE JAVAW_EXE
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
jar=$3
java=$4
javaw=$5
restrict_tools
configure_args=(-DBRACKENHUE_INSTALLER_ARCHIVE="$jar")

# The large tree for the builds that compare bytes; a small one for the rows
# that make the archive again and again.
folder="$work/runtime folder"
python3 "$src/tests/release/make_runtime_folder.py" "$folder" --java "$java" --javaw "$javaw" --zip "$work/runtime.zip"
small="$work/small runtime"
python3 "$src/tests/release/make_runtime_folder.py" "$small" --java "$java" --javaw "$javaw" --files 40

archive() { echo "$1/resources/runtime/jre_x64.exe"; }
# check_facts LABEL FOLDER: the facts beside $a's archive give FOLDER's
# bytes and its Java.
check_facts() {
  local facts bytes
  facts="$(archive "$a").facts"
  bytes=$(find "$2" -type f -printf '%s\n' | awk '{sum += $1} END {print sum}')
  if grep -qx "unpacked_bytes=$bytes" "$facts" && grep -qx "java_feature=8" "$facts" &&
     grep -qx "longest_path=[0-9]*" "$facts"; then
    echo "$1: facts written, $bytes bytes"
  else
    cat "$facts"
    fail "$1: the facts beside the archive do not give unpacked_bytes=$bytes and java_feature=8"
  fi
}

log "release build from a runtime folder, PATH: $(ls "$tools" | grep -v mingw32 | tr '\n' ' ')+ mingw-w64"
a="$work/first"
b="$work/elsewhere/second build"
mkdir -p "$(dirname "$b")"
start=$(date +%s.%N)
configure "$a" -DBRACKENHUE_RUNTIME_FOLDER="$folder" && build_launcher "$a" ||
  { cat "$a.log"; fail "build in $a"; exit 1; }
echo "first build: $(echo "$(date +%s.%N) - $start" | bc) s"
sleep 1
configure "$b" -DBRACKENHUE_RUNTIME_FOLDER="$folder" && build_launcher "$b" ||
  { cat "$b.log"; fail "build in $b"; exit 1; }
same "$(archive "$a")" "$(archive "$b")" "runtime archives made in two folders"
same "$a/bin/brackenhue-setup.exe" "$b/bin/brackenhue-setup.exe" "launchers made in two folders"
echo "folder $(du -sb "$folder" | cut -f1) bytes in $(find "$folder" -type f | wc -l) files; archive $(stat -c %s "$(archive "$a")") bytes"
check_facts "first build" "$folder"

log "from the zip with one top folder: the same archive"
configure "$b" -DBRACKENHUE_RUNTIME_FOLDER= -DBRACKENHUE_RUNTIME_ZIP="$work/runtime.zip" && build_launcher "$b" ||
  { cat "$b.log"; fail "build from the zip"; }
same "$(archive "$a")" "$(archive "$b")" "archives from the folder and from its zip"

log "what makes the archive again (a small runtime)"
configure "$a" -DBRACKENHUE_RUNTIME_FOLDER="$small" && build_launcher "$a" ||
  { cat "$a.log"; fail "build from the small runtime"; }
# remade WHAT: builds $a and says whether the archive was made again.
remade() {
  local before after
  before=$(stat -c %Y.%N "$(archive "$a")" 2>/dev/null; sha256sum "$(archive "$a")")
  sleep 1.1
  build_launcher "$a" || { cat "$a.log"; fail "$1: build"; }
  after=$(stat -c %Y.%N "$(archive "$a")" 2>/dev/null; sha256sum "$(archive "$a")")
  [ "$before" != "$after" ]
}
remade "nothing changed" && fail "the archive was made again with nothing changed" || echo "nothing changed: kept"
touch "$small/release"
remade "a file touched" && echo "a file touched: made again (its date may have changed)" || echo "a file touched: kept"
echo "changed" >>"$(find "$small/lib" -name '*.class' | sort | head -n 1)"
remade "a file changed" && echo "a file changed: made again" || fail "a changed file did not make the archive again"
echo "new" >"$small/lib/added.txt"
remade "a file added" && echo "a file added: made again" || fail "an added file did not make the archive again"
rm "$small/lib/added.txt"
remade "a file removed" && echo "a file removed: made again" || fail "a removed file did not make the archive again"
mkdir "$small/lib/new empty folder"
remade "an empty folder added" && echo "an empty folder added: made again" ||
  fail "an added empty folder did not make the archive again"
check_facts "after the changes" "$small"
lzma_archive="$work/lzma.exe"
cp "$(archive "$a")" "$lzma_archive"
configure "$a" -DBRACKENHUE_RUNTIME_COMPRESSION=zlib || { cat "$a.log"; fail "configuring with zlib"; }
remade "compression zlib" && echo "compression lzma to zlib: made again" ||
  fail "a new compression did not make the archive again"
cmp -s "$lzma_archive" "$(archive "$a")" && fail "the archive made with zlib is the one made with lzma"
configure "$a" -DBRACKENHUE_RUNTIME_COMPRESSION=zlib || { cat "$a.log"; fail "configuring with zlib again"; }
remade "the same compression configured again" &&
  fail "configuring the same compression again made the archive again" || echo "the same compression again: kept"
configure "$a" -DBRACKENHUE_RUNTIME_COMPRESSION=lzma || { cat "$a.log"; fail "configuring with lzma"; }
remade "compression lzma again" && echo "compression zlib to lzma: made again" ||
  fail "going back to lzma did not make the archive again"
same "$lzma_archive" "$(archive "$a")" "archives made with lzma before and after zlib"

log "a file replaced by one with an older date, in the folder and as the zip"
old_content="$work/old-dated"
printf 'replaced, dated a year back\n' >"$old_content"
touch -d "1 year ago" "$old_content"
cp -p "$old_content" "$(find "$small/lib" -name '*.class' | sort | sed -n 2p)"
remade "a file replaced by an older-dated one" && echo "older-dated file in the folder: made again" ||
  fail "a file replaced by one with an older date did not make the archive again"
small_zip="$work/small.zip"
(cd "$small" && python3 -c 'import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for root, folders, files in os.walk("."):
        for name in sorted(folders + files):
            z.write(os.path.join(root, name))' "$small_zip")
configure "$a" -DBRACKENHUE_RUNTIME_FOLDER= -DBRACKENHUE_RUNTIME_ZIP="$small_zip" && build_launcher "$a" ||
  { cat "$a.log"; fail "build from the small zip"; }
other_zip="$work/other.zip"
cp "$small_zip" "$other_zip"
python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a") as z:
    z.writestr("lib/added by the vendor.txt", "new\n")' "$other_zip"
touch -d "1 year ago" "$other_zip"
cp -p "$other_zip" "$small_zip"
remade "the zip replaced by an older-dated one" && echo "older-dated zip: made again" ||
  fail "a zip replaced by one with an older date did not make the archive again"

log "a runtime folder whose path holds [ and ]"
bracketed="$work/jdk-17 [x64] *?"
cp -r "$small" "$bracketed"
configure "$a" -DBRACKENHUE_RUNTIME_ZIP= -DBRACKENHUE_RUNTIME_FOLDER="$bracketed" && build_launcher "$a" ||
  { cat "$a.log"; fail "build from $bracketed"; }
remade "nothing changed in [x64]" && fail "the archive was made again with nothing changed in $bracketed" ||
  echo "nothing changed in [x64]: kept"
echo "changed" >>"$(find "$bracketed/lib" -name '*.class' | sort | head -n 1)"
remade "a file changed in [x64]" && echo "a file changed in $bracketed: made again" ||
  fail "a changed file in $bracketed did not make the archive again"

log "makensis upgraded, then gone"
real_makensis=$(readlink -f "$tools/makensis")
rm "$tools/makensis"
printf '#!/bin/sh\n[ "$1" = -VERSION ] && { echo v9.99-upgraded; exit 0; }\nexec "%s" "$@"\n' "$real_makensis" \
  >"$tools/makensis"
chmod +x "$tools/makensis"
remade "makensis upgraded" && echo "makensis upgraded: made again" ||
  fail "an upgraded makensis did not make the archive again"
rm "$tools/makensis"
echo "changed again" >>"$(find "$bracketed/lib" -name '*.class' | sort | head -n 1)"
if build_launcher "$a"; then
  fail "the build went on without makensis"
else
  errors=$(grep -c "error" "$a.log")
  if grep -q "MAKENSIS_EXECUTABLE names $tools/makensis, which cannot be read" "$a.log" &&
     ! grep -q "Traceback" "$a.log"; then
    echo "makensis gone: the build stops, naming MAKENSIS_EXECUTABLE and the path"
  else
    tail -n 20 "$a.log"
    fail "without makensis the build does not say so in one line ($errors error lines)"
  fi
fi
ln -s "$real_makensis" "$tools/makensis"

log "two runtime settings at once"
refused="$work/refused"
if configure "$refused" -DBRACKENHUE_RUNTIME_FOLDER="$folder" -DBRACKENHUE_RUNTIME_ZIP="$work/runtime.zip"; then
  fail "configuring with two runtime settings succeeded"
else
  text=$(tr -s ' \n' ' ' <"$refused.log")
  [[ "$text" == *"BRACKENHUE_RUNTIME_FOLDER=$folder and BRACKENHUE_RUNTIME_ZIP=$work/runtime.zip"* ]] &&
    echo "refused, naming both" || { cat "$refused.log"; fail "the refusal does not name both settings"; }
fi

log "a compression that does not exist"
refused="$work/refused-compression"
if configure "$refused" -DBRACKENHUE_RUNTIME_FOLDER="$folder" -DBRACKENHUE_RUNTIME_COMPRESSION=xz; then
  fail "configuring with compression xz succeeded"
else
  text=$(tr -s ' \n' ' ' <"$refused.log")
  [[ "$text" == *"BRACKENHUE_RUNTIME_COMPRESSION is set to 'xz'; it must be lzma (the default), zlib or none"* ]] &&
    echo "refused, naming the setting and its values" ||
    { cat "$refused.log"; fail "the refusal does not name the setting and its values"; }
fi

log "signed: the archive inside the launcher verifies"
make_certificate signer codeSigning
signed="$work/signed"
cmake -S "$src" -B "$signed" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBRACKENHUE_INSTALLER_ARCHIVE="$jar" \
  -DBRACKENHUE_RUNTIME_FOLDER="$small" -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/signer.pem" \
  -DBRACKENHUE_SIGNING_KEY="$certs/signer.key" >>"$signed.log" 2>&1 &&
  SOURCE_DATE_EPOCH=1700000000 cmake --build "$signed" --target brackenhue-setup >>"$signed.log" 2>&1 ||
  { cat "$signed.log"; fail "signed build"; }
# The archive as the launcher carries it: its chunks joined in order.
inside="$work/inside.exe"
: >"$inside"
for index in $(seq 1 9999); do
  chunk="$signed/resources/chunks/JAVA_$index.bin"
  [ -f "$chunk" ] || break
  cat "$chunk" >>"$inside"
done
same "$(archive "$signed")" "$inside" "the signed archive and the chunks the launcher carries"
if osslsigncode verify -CAfile "$certs/signer.pem" -in "$inside" >"$inside.verify" 2>&1; then
  echo "the archive inside verifies"
else
  cat "$inside.verify"
  fail "the archive inside does not verify"
fi
grep -q "Signing time: Nov 14 22:13:20 2023" "$inside.verify" && echo "signing time from SOURCE_DATE_EPOCH" ||
  { grep -i "time" "$inside.verify"; fail "the signing time is not SOURCE_DATE_EPOCH"; }
osslsigncode verify -CAfile "$certs/signer.pem" -in "$signed/bin/brackenhue-setup.exe" >/dev/null 2>&1 &&
  echo "the launcher verifies" || fail "the launcher does not verify"

finish "all runtime build checks passed"
