#!/bin/sh
# Sets up what is missing, builds everything and runs all tests (native and under Wine).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
cd "${HALCYRA_BUILD_DIR:-$root/build}/native"
ctest --output-on-failure "$@"
