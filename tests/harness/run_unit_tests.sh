#!/bin/sh
# Runs the Windows build of the unit tests under Wine in a throw-away prefix, a copy of the
# harness's base prefix (HALCYRA_WIN64_DIR or HALCYRA_WIN32_DIR names the build folder it
# belongs to): wine64 for the x86_64 build, or with HALCYRA_ARCH=win32 32-bit Wine in the chroot
# of tools/wine32-setup.sh.
tmp=$(mktemp -d /tmp/halcyra-unit-XXXXXX)
exe=$1
wine=/usr/lib/wine/wine64
server=wineserver
if [ "${HALCYRA_ARCH:-}" = win32 ]; then
  if ! chroot_dir=$("$(dirname "$0")/../../tools/wine32-setup.sh"); then
    echo "the 32-bit Wine set-up is not available, so the 32-bit unit tests can't run" >&2
    rm -rf "$tmp"
    exit 1
  fi
  rm -rf "$tmp"
  # The chroot sees the set-up's share folder at the same path.
  tmp=$(mktemp -d "$(dirname "$chroot_dir")/share/halcyra-unit-XXXXXX")
  cp "$exe" "$tmp/unit_tests.exe"
  exe=$tmp/unit_tests.exe
  wine="chroot $chroot_dir /usr/lib/wine/wine"
  server="chroot $chroot_dir /usr/lib/wine/wineserver32"
fi
prefix=$tmp/prefix
trap 'WINEPREFIX=$prefix $server -k 2>/dev/null; rm -rf "$tmp"' EXIT
if ! python3 "$(dirname "$0")/harness.py" --copy-base-prefix "$prefix"; then
  echo "the base prefix could not be made" >&2
  exit 1
fi
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY= \
  $wine "$exe" --gtest_brief=1 > "$tmp/log" 2>&1
status=$?
tr -d '\r' < "$tmp/log"
exit $status
