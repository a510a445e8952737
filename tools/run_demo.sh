#!/bin/sh
# The demo: installs what is missing, builds the program, serves the demo boot image on loopback
# and runs the wizard under Wine against it, onto a file-backed removable drive. Interactive
# with a DISPLAY; otherwise a whole run by itself, with screenshots under out/screens/, and a
# check that the written disk image holds the served image and boots.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HALCYRA_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
HALCYRA_WIN64_DIR="$build/win64" HALCYRA_SOURCE_DIR="$root" exec python3 "$root/tools/run_demo.py"
