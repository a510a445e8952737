#!/bin/sh
# Sets up what is missing, builds everything and runs all tests (native and under Wine), the
# longest first and several at a time. CTest options pass through, e.g. tools/test.sh -R startup.
#   tools/test.sh --quick   the unit tests (native and under wine64), the checks of the shipped
#                           executable's PE header and imports, and one whole run of the program
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HALCYRA_BUILD_DIR:-$root/build}
quick=""
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi
# What the build needs first; what only the tests need is installed while everything is built.
"$root/tools/install-deps.sh" --build
deps_log=$(mktemp)
"$root/tools/install-deps.sh" >"$deps_log" 2>&1 &
deps=$!
# The wine32_ tests run the shipped 32-bit program in an emulated i386 chroot, whose set-up
# takes minutes the first time (cached after): it starts now, and the wine32_setup test, which
# the wine32_ tests wait for, waits for it. When it can't be set up, that test says why.
setup=""
if [ -z "$quick" ] && [ "$(id -u)" -eq 0 ]; then
  "$root/tools/wine32-setup.sh" >/dev/null 2>&1 &
  setup=$!
fi
status=0
"$root/tools/build.sh" ${quick:+--quick} || status=$?
if ! wait "$deps"; then
  cat "$deps_log" >&2
  status=1
fi
rm -f "$deps_log"
# Most tests under Wine spend their time waiting for the program (a download at a set rate,
# a stall limit, a slow stick), so twice as many as there are cores run at once.
jobs=${HALCYRA_TEST_JOBS:-$(( $(nproc) * 2 ))}
if [ "$status" -eq 0 ]; then
  cd "$build/native"
  ctest --output-on-failure -j"$jobs" ${quick:+-L quick} "$@" || status=$?
fi
if [ -n "$setup" ]; then
  wait "$setup" || true
fi
exit $status
