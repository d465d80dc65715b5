# Shared by scripts/test and scripts/demo: installs what a fresh Debian 12
# machine lacks, then configures and builds. Sourced, not run.

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

# Debian packages the build and the tests need.
packages="cmake ninja-build python3 g++ clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
binutils-mingw-w64-x86-64 nsis wine wine64 xvfb x11-utils xdotool imagemagick googletest
openjdk-17-jdk-headless bc osslsigncode openssl"

missing_packages() {
  for p in $packages; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

install_dependencies() {
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  echo "installing: $(echo $missing)"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages and not root; install them with: apt-get install $(echo $missing)" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
}

configure_and_build() {
  cd "$root"
  # Prefer Debian's interpreter: it is what a fresh machine has.
  cmake --preset windows -DPython3_EXECUTABLE=/usr/bin/python3 "$@"
  cmake --build --preset windows
}

# The pure core on this machine under AddressSanitizer and
# UndefinedBehaviorSanitizer: its unit tests, natively, in seconds.
host_checks() {
  cd "$root"
  cmake --preset host >/dev/null
  cmake --build --preset host
  ctest --preset host
  # Each parser of outside text under libFuzzer for a few seconds.
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz
}
