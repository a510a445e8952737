#!/bin/sh
# Builds the shipped 32-bit program, the 64-bit build the tests run under Wine, and the native
# unit tests, in build/win32, build/win64 and build/native.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HALCYRA_BUILD_DIR:-$root/build}
jobs=${HALCYRA_JOBS:-2}
cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >/dev/null
cmake --build "$build/win32" -j "$jobs"
cmake -S "$root" -B "$build/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/win64" -j "$jobs"
cmake -S "$root" -B "$build/native" -G Ninja -DHALCYRA_WIN64_DIR="$build/win64" \
  -DHALCYRA_WIN32_DIR="$build/win32" >/dev/null
cmake --build "$build/native" -j "$jobs"
echo "Shipped program: $build/win32/HalcyraCreator.exe"
