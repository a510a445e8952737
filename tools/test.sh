#!/bin/sh
# Sets up what is missing, builds everything and runs all tests (native and under Wine), two at
# a time. CTest options pass through, e.g. tools/test.sh -R startup.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HALCYRA_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
# The wine32_ tests run the shipped 32-bit program in an emulated i386 chroot, whose set-up
# takes minutes the first time (cached after): it runs meanwhile, while everything is built
# and the other tests run. When it can't be set up, the wine32_ tests fail and say why.
setup_log=$(mktemp)
setup=""
if [ "$(id -u)" -eq 0 ]; then
  "$root/tools/wine32-setup.sh" >"$setup_log" 2>&1 &
  setup=$!
fi
"$root/tools/build.sh"
cd "$build/native"
status=0
ctest --output-on-failure -j2 -LE wine32 "$@" || status=$?
if ctest -N -L wine32 "$@" | grep -q ' wine32_'; then
  if [ -z "$setup" ] || ! wait "$setup"; then
    echo "test.sh: the 32-bit set-up failed; the wine32_ tests will fail:" >&2
    cat "$setup_log" >&2
  fi
  ctest --output-on-failure -j2 -L wine32 "$@" || status=$?
elif [ -n "$setup" ]; then
  wait "$setup" || true
fi
rm -f "$setup_log"
exit $status
