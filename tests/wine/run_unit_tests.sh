#!/bin/sh
# Runs the Windows build of the unit tests under wine64 in a throw-away prefix.
prefix=$(mktemp -d /tmp/halcyra-unit-XXXXXX)
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null; rm -rf "$prefix"' EXIT
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
  /usr/lib/wine/wine64 "$1" --gtest_brief=1 > "$prefix.log" 2>&1
status=$?
tr -d '\r' < "$prefix.log"
rm -f "$prefix.log"
exit $status
