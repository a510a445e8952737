#!/bin/sh
# Installs the Debian packages the build and the tests need, when they are missing.
#   tools/install-deps.sh           everything
#   tools/install-deps.sh --build   only what the build needs (tools/test.sh installs the rest
#                                   while it builds)
set -e
build_packages="cmake ninja-build g++ googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 fp-utils python3"
test_packages="wine wine64 fonts-wine xvfb xdotool imagemagick nasm qemu-system-x86 curl
  python3-fusepy fuse3"
packages="$build_packages $test_packages"
[ "${1:-}" = "--build" ] && packages=$build_packages
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi
