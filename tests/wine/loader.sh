# Sourced: sets $wine, the command that runs a Windows program. Every program
# here is 64-bit, so the 64-bit loader runs them directly; Debian's "wine"
# would go through the 32-bit loader whenever wine32 is installed, which a
# kernel without 32-bit emulation cannot start.
if [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  WINELOADER=$wine
  export WINELOADER
else
  wine=wine
fi
