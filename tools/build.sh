#!/bin/sh
# Builds the shipped 32-bit program, the 64-bit build the tests run under Wine, and the native
# unit tests, in build/win32, build/win64 and build/native. The 32-bit tree builds beside the
# other two, which fills the cores while one of them configures or links.
#   tools/build.sh --quick   only what tools/test.sh --quick runs: the shipped program, and the
#                            64-bit program, unit tests and UI driver
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HALCYRA_BUILD_DIR:-$root/build}
jobs=${HALCYRA_JOBS:-2}
win32_targets="" win64_targets="" native_targets=""
if [ "${1:-}" = "--quick" ]; then
  win32_targets="--target HalcyraCreator"
  win64_targets="--target HalcyraCreator unit_tests uidriver"
  native_targets="--target unit_tests"
fi
mkdir -p "$build"
win32_log=$build/win32-build.log
(
  cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >/dev/null
  cmake --build "$build/win32" -j "$jobs" $win32_targets
) >"$win32_log" 2>&1 &
win32=$!
status=0
{
  cmake -S "$root" -B "$build/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" >/dev/null &&
  cmake --build "$build/win64" -j "$jobs" $win64_targets &&
  cmake -S "$root" -B "$build/native" -G Ninja -DHALCYRA_WIN64_DIR="$build/win64" \
    -DHALCYRA_WIN32_DIR="$build/win32" >/dev/null &&
  cmake --build "$build/native" -j "$jobs" $native_targets
} || status=$?
# The 32-bit build's output after the others'.
win32_status=0
wait "$win32" || win32_status=$?
cat "$win32_log"
if [ "$win32_status" -ne 0 ]; then
  echo "build.sh: the 32-bit build failed (above)" >&2
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"
echo "Shipped program: $build/win32/HalcyraCreator.exe"
