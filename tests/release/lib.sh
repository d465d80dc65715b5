# shellcheck shell=bash
# Sourced by the release build tests (release_builds.sh, runtime_builds.sh),
# with their own arguments: SOURCE_DIR WORK_DIR first. Sets $src and $work
# (emptied), counts failures, and holds the helpers both use.
set -uo pipefail
src=$1
work=$(realpath -m "$2")
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
log() { echo "== $*"; }

# What configure and build_launcher run cmake under: empty, or the
# restricted PATH that restrict_tools sets up.
tool_env=()
# Arguments every configure of the test adds.
configure_args=()

# restrict_tools: a PATH of only the tools a release build may use (the
# 64-bit cross compiler, CMake, Ninja, Python, makensis) for configure and
# build_launcher. Exits 77 (skipped) when one is not installed.
restrict_tools() {
  tools="$work/tools"
  mkdir -p "$tools"
  local tool path absent
  for tool in cmake ninja python3 makensis /usr/bin/x86_64-w64-mingw32-*; do
    path=$(command -v "$tool") || { echo "SKIP: $tool is not installed"; exit 77; }
    ln -s "$path" "$tools/$(basename "$tool")"
  done
  for absent in wine Xvfb javac jar i686-w64-mingw32-g++-posix; do
    PATH="$tools" command -v "$absent" >/dev/null && fail "$absent is on the restricted PATH"
  done
  tool_env=(env -i HOME="$HOME" PATH="$tools")
}

# configure FOLDER [cmake arguments]: a launcher-only release build; its
# output goes to FOLDER.log.
configure() {
  local folder=$1
  shift
  "${tool_env[@]}" cmake -S "$src" -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${configure_args[@]}" "$@" >>"$folder.log" 2>&1
}
build_launcher() { "${tool_env[@]}" cmake --build "$1" --target brackenhue-setup >>"$1.log" 2>&1; }
launcher() { echo "$1/bin/brackenhue-setup.exe"; }

# same FILE FILE WHAT: the two files must be byte-identical.
same() {
  if cmp -s "$1" "$2"; then
    echo "identical: $3 ($(stat -c %s "$1") bytes)"
  else
    fail "$3 differ: $(cmp -l "$1" "$2" 2>/dev/null | wc -l) bytes, first at $(cmp "$1" "$2" | sed 's/.*byte //')"
  fi
}

# make_certificate NAME EXTENDED_KEY_USAGE: a throwaway self-signed
# certificate and its key, $certs/NAME.pem and $certs/NAME.key.
certs="$work/certs"
make_certificate() {
  mkdir -p "$certs"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/$1.key" -out "$certs/$1.pem" -days 2 \
    -subj "/CN=Brackenhue throwaway $1" -addext "extendedKeyUsage=$2" -addext "keyUsage=digitalSignature" 2>/dev/null
}

# finish MESSAGE: ends the test, failed when anything failed.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "$1"
}
