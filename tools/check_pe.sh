#!/bin/sh
# Checks the shipped executable's PE header: i386, GUI subsystem, system DLL imports only, and
# a manifest that asks for administrator rights without naming Common Controls version 6.
exe=$1
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
echo "PE header and manifest OK"
