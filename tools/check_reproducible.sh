#!/bin/sh
# Builds the shipped program a second time, from a copy of the sources in a fresh folder, and
# compares its SHA-256 with the one of the given build (default build/win32).
#   tools/check_reproducible.sh [shipped build folder]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
shipped=${1:-$root/build/win32}/HalcyraCreator.exe
[ -f "$shipped" ] || { echo "no $shipped: build first" >&2; exit 1; }
work=$(mktemp -d /tmp/halcyra-rebuild-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The files of the checkout as they are now, without the history and the build folders; the
# commit's date goes along, as the copy has no history to read it from.
mkdir "$work/src"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
  (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 -r sh -c \
    'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh | tar --null -T - -cf -) | tar -xf - -C "$work/src"
else
  (cd "$root" && tar --exclude=./build --exclude=./dist --exclude=./out -cf - .) | tar -xf - -C "$work/src"
fi
cmake -S "$work/src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/toolchain-i686.cmake" >/dev/null
cmake --build "$work/build" -j "${HALCYRA_JOBS:-2}" --target HalcyraCreator >/dev/null
first=$(sha256sum < "$shipped" | cut -d' ' -f1)
second=$(sha256sum < "$work/build/HalcyraCreator.exe" | cut -d' ' -f1)
echo "shipped build: $first  $shipped"
echo "second build:  $second  $work/build/HalcyraCreator.exe"
if [ "$first" != "$second" ]; then
  cmp -l "$shipped" "$work/build/HalcyraCreator.exe" | head -n 20
  echo "the two builds differ" >&2
  exit 1
fi
echo "identical"
