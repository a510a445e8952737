#!/bin/sh
# Checks the shipped executable's PE header: i386, GUI subsystem, system DLL imports only, and
# a manifest that asks for administrator rights without naming Common Controls version 6; with a
# version as second argument, also that the version resource and the About box carry it.
exe=$1
version=$2
fail() { echo "FAIL: $*"; exit 1; }
headers=$(i686-w64-mingw32-objdump -p "$exe") || fail "objdump"
echo "$headers" | grep -q "file format pei-i386" || fail "not an i386 executable"
echo "$headers" | grep -q "Subsystem.*Windows GUI" || fail "not a GUI program"
system="ADVAPI32.dll COMCTL32.dll COMDLG32.dll GDI32.dll KERNEL32.dll msvcrt.dll ole32.dll SHELL32.dll USER32.dll urlmon.dll"
for dll in $(echo "$headers" | sed -n 's/.*DLL Name: //p'); do
  echo " $system " | grep -qi " $dll " || fail "imports $dll"
  echo "imports $dll"
done
manifest=$(strings -n 8 "$exe" | sed -n '/<assembly/,/<\/assembly>/p')
echo "$manifest" | grep -q 'requestedExecutionLevel level="requireAdministrator"' || fail "manifest lacks requireAdministrator"
echo "$manifest" | grep -qi "Microsoft.Windows.Common-Controls" && fail "manifest names Common Controls"
if [ -n "$version" ]; then
  texts=$(strings -el "$exe")
  [ "$(echo "$texts" | grep -cx "$version")" -eq 2 ] || fail "FileVersion and ProductVersion are not $version"
  echo "$texts" | grep -qx "Version $version" || fail "the About box doesn't say Version $version"
  # FILEVERSION in the fixed part: major and minor in one word, patch and 0 in the next.
  set -- $(echo "$version" | tr . ' ')
  fixed=$(printf '%04x%04x%04x%04x' "$2" "$1" 0 "$3")
  od -An -v -tx1 "$exe" | tr -d ' \n' | grep -q "bd04effe00000100$(echo "$fixed" | sed 's/\(..\)\(..\)/\2\1/g')" \
    || fail "the fixed version resource is not $version"
  echo "version $version in the version resource and the About box"
fi
echo "PE header and manifest OK"
