#!/usr/bin/env bash
# Release builds, as a release engineer makes them:
#  - two builds of the launcher in two folders, at two times, give the same
#    bytes, with the demo payloads (built from source in each) and with
#    payload files passed in; the demo jar honours SOURCE_DATE_EPOCH;
#  - with a certificate and key named, the launcher is signed and verifies
#    against that certificate; -x from it gives the input jar byte for byte;
#    one byte changed in its resource section fails the verification; a
#    PKCS#12 file with a password from the environment works the same;
#  - bad signing input stops the configuration or the build with a message
#    that names the setting and the file, and leaves no launcher;
#  - with the settings emptied again the launcher is the unsigned one.
# usage: release_builds.sh SOURCE_DIR WORK_DIR WINE_RUN RUNTIME JAR
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
wine_run=$3
runtime=$4
jar=$5
configure_args=(-DPython3_EXECUTABLE=/usr/bin/python3)

# --- Reproducible builds ---------------------------------------------------
unset SOURCE_DATE_EPOCH
a="$work/first"
b="$work/elsewhere/second build"
mkdir -p "$(dirname "$b")"
log "default payloads: two folders, two times"
configure "$a" && build_launcher "$a" || { cat "$a.log"; fail "build in $a"; exit 1; }
cp "$(launcher "$a")" "$work/default-first.exe"
sleep 2
configure "$b" && build_launcher "$b" || { cat "$b.log"; fail "build in $b"; exit 1; }
cp "$(launcher "$b")" "$work/default-second.exe"
same "$a/resources/demo/brackenhue-demo.jar" "$b/resources/demo/brackenhue-demo.jar" "demo installer jars"
same "$a/resources/demo/demo-runtime.exe" "$b/resources/demo/demo-runtime.exe" "demo runtime archives"
same "$work/default-first.exe" "$work/default-second.exe" "launchers around the demo payloads"

log "payload files passed in"
configure "$a" -DBRACKENHUE_RUNTIME_ARCHIVE="$runtime" -DBRACKENHUE_INSTALLER_ARCHIVE="$jar" && build_launcher "$a" ||
  { cat "$a.log"; fail "build with payloads in $a"; exit 1; }
sleep 1
configure "$b" -DBRACKENHUE_RUNTIME_ARCHIVE="$runtime" -DBRACKENHUE_INSTALLER_ARCHIVE="$jar" && build_launcher "$b" ||
  { cat "$b.log"; fail "build with payloads in $b"; exit 1; }
unsigned="$work/unsigned.exe"
cp "$(launcher "$b")" "$unsigned"
same "$(launcher "$a")" "$unsigned" "launchers around payloads passed in"

log "SOURCE_DATE_EPOCH dates the demo jar's entries"
mkdir -p "$work/classes/p"
echo "x" >"$work/classes/p/A.class"
jar_tool=$(grep -m1 '^JAR_EXECUTABLE:' "$a/CMakeCache.txt" | cut -d= -f2)
for epoch in unset 1700000000; do
  if [ "$epoch" = unset ]; then
    env -u SOURCE_DATE_EPOCH cmake -DJAR="$jar_tool" -DCLASSES="$work/classes" -DOUTPUT="$work/dated.jar" \
      -DMAIN_CLASS=p.A -P "$src/resources/demo/make_jar.cmake"
    want="2020, 1, 1, 0, 0, 0"
  else
    SOURCE_DATE_EPOCH=$epoch cmake -DJAR="$jar_tool" -DCLASSES="$work/classes" -DOUTPUT="$work/dated.jar" \
      -DMAIN_CLASS=p.A -P "$src/resources/demo/make_jar.cmake"
    want="2023, 11, 14, 22, 13, 20"
  fi
  dates=$(python3 -c 'import sys, zipfile
print(sorted({", ".join(map(str, i.date_time)) for i in zipfile.ZipFile(sys.argv[1]).infolist()}))' "$work/dated.jar")
  [ "$dates" = "['$want']" ] && echo "jar entries dated $want with SOURCE_DATE_EPOCH $epoch" ||
    fail "SOURCE_DATE_EPOCH $epoch: jar entries dated $dates, not $want"
done

# --- Signing ---------------------------------------------------------------
make_certificate signer codeSigning
make_certificate server serverAuth
make_certificate other codeSigning
openssl pkcs12 -export -in "$certs/signer.pem" -inkey "$certs/signer.key" -out "$certs/signer.p12" \
  -passout pass:correct-horse

# verifies FILE: osslsigncode verify against the throwaway certificate.
verifies() { osslsigncode verify -CAfile "$certs/signer.pem" -in "$1" >"$1.verify" 2>&1; }
check_signed() {  # WHAT
  local exe
  exe=$(launcher "$b")
  if verifies "$exe"; then echo "$1: verifies"; else cat "$exe.verify"; fail "$1: the signed launcher does not verify"; fi
  grep -q "Message digest algorithm *: SHA256" "$exe.verify" || fail "$1: not signed with SHA-256"
  [ -x "$exe" ] || fail "$1: the signed launcher lost its execute permission"
}

log "signed with PEM certificate and key"
configure "$b" -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/signer.pem" -DBRACKENHUE_SIGNING_KEY="$certs/signer.key" &&
  build_launcher "$b" || { cat "$b.log"; fail "signed build"; exit 1; }
check_signed "PEM"
signed="$work/signed.exe"
cp "$(launcher "$b")" "$signed"
echo "sizes: unsigned $(stat -c %s "$unsigned") bytes, signed $(stat -c %s "$signed") bytes"

osslsigncode remove-signature -in "$signed" -out "$work/signature-removed.exe" >/dev/null
same "$work/signature-removed.exe" "$unsigned" "the signed launcher without its signature and the unsigned one"

log "-x from the signed launcher"
run_dir="$work/extract"
mkdir -p "$run_dir"
(cd "$run_dir" && "$wine_run" "$signed" -x >"$run_dir/out.txt" 2>&1)
same "$run_dir/brackenhue.jar" "$jar" "-x from the signed launcher and the input jar"

log "one byte changed inside the resource section"
python3 - "$signed" "$work/tampered.exe" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections = struct.unpack_from("<H", data, pe + 6)[0]
table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
for i in range(sections):
    entry = table + 40 * i
    if data[entry:entry + 8].rstrip(b"\0") == b".rsrc":
        raw_size, raw_offset = struct.unpack_from("<II", data, entry + 16)
        at = raw_offset + raw_size // 2
        data[at] ^= 0x01
        open(sys.argv[2], "wb").write(data)
        print("changed byte %d of %d in .rsrc (file offset %d)" % (raw_size // 2, raw_size, at))
        break
else:
    sys.exit("no .rsrc section")
EOF
if verifies "$work/tampered.exe"; then fail "a launcher with a changed resource byte still verifies"; else
  echo "tampered launcher: verification fails"; fi

log "signed with a PKCS#12 file and a password from the environment"
BRACKENHUE_SIGNING_PASSWORD=correct-horse configure "$b" -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/signer.p12" \
  -DBRACKENHUE_SIGNING_KEY= && BRACKENHUE_SIGNING_PASSWORD=correct-horse build_launcher "$b" ||
  { cat "$b.log"; fail "PKCS#12 signed build"; }
check_signed "PKCS#12"
grep -q "correct-horse" "$b/CMakeCache.txt" "$b/build.ninja" && fail "the password was written into the build folder"

log "signed with a PKCS#12 file of an older tool (RC2 and 3DES, OpenSSL 3's legacy provider)"
openssl pkcs12 -export -legacy -in "$certs/signer.pem" -inkey "$certs/signer.key" -out "$certs/legacy.p12" \
  -passout pass:old-tool
BRACKENHUE_SIGNING_PASSWORD=old-tool configure "$b" -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/legacy.p12" &&
  BRACKENHUE_SIGNING_PASSWORD=old-tool build_launcher "$b" || { cat "$b.log"; fail "legacy PKCS#12 signed build"; }
check_signed "legacy PKCS#12"

log "bad signing input"
# refused WHAT TEXT... -- CMAKE ARGUMENTS: configuring fails and the log
# holds every TEXT (CMake wraps long lines, so they are looked for apart).
refused() {
  local what=$1
  shift
  local texts=()
  while [ "$1" != "--" ]; do texts+=("$1"); shift; done
  shift
  local folder="$work/refused"
  rm -rf "$folder" "$folder.log"
  if configure "$folder" "$@"; then fail "$what: configuring succeeded"; return; fi
  local log_text
  log_text=$(tr -s ' \n' ' ' <"$folder.log")
  for text in "${texts[@]}"; do
    [[ "$log_text" == *"$text"* ]] || { cat "$folder.log"; fail "$what: no \"$text\" in the message"; return; }
  done
  [ ! -e "$(launcher "$folder")" ] || fail "$what: a launcher was left"
  echo "refused: $what"
}
refused "missing certificate" "BRACKENHUE_SIGNING_CERTIFICATE: no such file:" "$certs/nowhere.pem" -- \
  -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/nowhere.pem" -DBRACKENHUE_SIGNING_KEY="$certs/signer.key"
refused "missing key" "BRACKENHUE_SIGNING_KEY: no such file:" "$certs/nowhere.key" -- \
  -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/signer.pem" -DBRACKENHUE_SIGNING_KEY="$certs/nowhere.key"
refused "key of another certificate" "BRACKENHUE_SIGNING_KEY:" "$certs/other.key" \
  "the key does not belong to the certificate" "$certs/signer.pem" -- \
  -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/signer.pem" -DBRACKENHUE_SIGNING_KEY="$certs/other.key"
refused "certificate not for code signing" "BRACKENHUE_SIGNING_CERTIFICATE:" "$certs/server.pem" \
  "is not for code signing" -- \
  -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/server.pem" -DBRACKENHUE_SIGNING_KEY="$certs/server.key"
refused "PKCS#12 with a wrong password" "BRACKENHUE_SIGNING_CERTIFICATE:" "$certs/signer.p12" \
  "BRACKENHUE_SIGNING_PASSWORD" -- -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/signer.p12"
refused "key without certificate" "BRACKENHUE_SIGNING_KEY is set to" "$certs/signer.key" -- \
  -DBRACKENHUE_SIGNING_KEY="$certs/signer.key"

# A certificate that turns bad between configuring and building.
cp "$certs/signer.pem" "$certs/changing.pem"
cp "$certs/signer.key" "$certs/changing.key"
configure "$b" -DBRACKENHUE_SIGNING_CERTIFICATE="$certs/changing.pem" -DBRACKENHUE_SIGNING_KEY="$certs/changing.key" ||
  { cat "$b.log"; fail "configuring with a good certificate"; }
cp "$certs/server.pem" "$certs/changing.pem"
cp "$certs/server.key" "$certs/changing.key"
: >"$b.log"
if build_launcher "$b"; then fail "built with a certificate not for code signing"; fi
grep -q "error: BRACKENHUE_SIGNING_CERTIFICATE: $certs/changing.pem: the certificate is not for code signing" "$b.log" &&
  echo "refused at build time: certificate changed after configuring" ||
  { cat "$b.log"; fail "no build-time message naming the setting and the file"; }
[ ! -e "$(launcher "$b")" ] || fail "an unsigned launcher was left after the failed signing"

log "settings emptied: the unsigned launcher again"
configure "$b" -DBRACKENHUE_SIGNING_CERTIFICATE= -DBRACKENHUE_SIGNING_KEY= && build_launcher "$b" ||
  { cat "$b.log"; fail "unsigned build"; }
same "$(launcher "$b")" "$unsigned" "the launcher with signing unset and the earlier unsigned one"

finish "all release checks passed"
