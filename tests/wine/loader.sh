# Sourced: sets $wine, the command that runs a Windows program.
# Debian's "wine" starts the 32-bit loader whenever wine32 is installed, and
# that one hands 64-bit programs on to the 64-bit loader. On a kernel booted
# without 32-bit emulation the 32-bit loader cannot start at all; the 64-bit
# loader then runs 64-bit programs directly (32-bit ones cannot run there).
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  WINELOADER=$wine
  # Tests that need a 32-bit program skip themselves with this reason.
  BRACKENHUE_NO_32BIT="32-bit programs cannot run here: the kernel does not start Wine's 32-bit loader (32-bit emulation is off)"
  export WINELOADER BRACKENHUE_NO_32BIT
else
  wine=wine
fi
