#!/bin/sh
# Fails when a Windows executable imports any DLL outside the set that every
# Windows installation has: the launcher must start on a machine that has
# never seen mingw.
# usage: check_imports.sh OBJDUMP EXE
objdump=$1
exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$dlls" ] || { echo "no imports read from $exe" >&2; exit 1; }
echo "$exe imports:"
bad=0
for dll in $dlls; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | msvcrt.dll | api-ms-win-crt-*.dll)
      echo "  $dll" ;;
    *)
      echo "  $dll  <- not a Windows system DLL" ; bad=1 ;;
  esac
done
exit $bad
