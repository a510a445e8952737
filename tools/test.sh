#!/bin/sh
# Sets up what is missing, builds everything and runs all tests (native and under Wine).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
cd "${HALCYRA_BUILD_DIR:-$root/build}/native"
# The wine32_ tests run the shipped 32-bit program in an emulated i386 chroot: set it up first
# when they are among the chosen tests (minutes the first time, cached after). When it can't be
# set up, those tests fail and say why.
if ctest -N "$@" | grep -q ' wine32_'; then
  "$root/tools/wine32-setup.sh" >/dev/null || echo "test.sh: the 32-bit set-up failed; the wine32_ tests will fail" >&2
fi
ctest --output-on-failure "$@"
