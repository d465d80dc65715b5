#!/usr/bin/env bash
# The time signing adds to a launcher build: the build's signing step
# (resources/sign_launcher.py sign: the checks of certificate and key, then
# osslsigncode) on copies of built launchers, alternating with a plain copy
# as the reference, as whole processes. Prints the median of each, their
# difference, and the sizes before and after signing.
# usage: bench/signing.sh [LAUNCHER...]   (default: the main build's
#        brackenhue-setup.exe and launcher-bigjar.exe); RUNS=11 by default
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-11}
[ $# -gt 0 ] || set -- "$root/build/bin/brackenhue-setup.exe" "$root/build/bin/launcher-bigjar.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Brackenhue benchmark" -addext "extendedKeyUsage=codeSigning" 2>/dev/null

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

for launcher in "$@"; do
  : >"$work/sign.ms"
  : >"$work/copy.ms"
  for _ in $(seq "$runs"); do
    start=$(now)
    cp "$launcher" "$work/copy.exe"
    echo "$(( ($(now) - start) / 1000 ))" >>"$work/copy.ms"
    start=$(now)
    cp "$launcher" "$work/signed.exe"
    python3 "$root/resources/sign_launcher.py" sign --certificate "$work/cert.pem" --key "$work/key.pem" \
      "$work/signed.exe"
    echo "$(( ($(now) - start) / 1000 ))" >>"$work/sign.ms"
  done
  copy=$(median <"$work/copy.ms")
  sign=$(median <"$work/sign.ms")
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >/dev/null
  printf '%s: %d bytes unsigned, %d signed (+%d); copy %.1f ms, copy and sign %.1f ms: signing adds %.1f ms (medians of %d)\n' \
    "$(basename "$launcher")" "$(stat -c %s "$launcher")" "$(stat -c %s "$work/signed.exe")" \
    $(( $(stat -c %s "$work/signed.exe") - $(stat -c %s "$launcher") )) \
    "$(echo "$copy / 1000" | bc -l)" "$(echo "$sign / 1000" | bc -l)" "$(echo "($sign - $copy) / 1000" | bc -l)" "$runs"
done
