#!/bin/sh
# Makes the release of the shipped program: dist/HalcyraCreator-<version>/ with the exe, its
# SHA256SUMS and a README.txt for Windows users, and dist/HalcyraCreator-<version>.zip.
# The version is the CMake project version (the same as in the version resource and About box).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HALCYRA_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >/dev/null
cmake --build "$build/win32" -j "${HALCYRA_JOBS:-2}" --target HalcyraCreator
version=$(sed -n 's/^#define HALCYRA_VERSION_TEXT "\(.*\)"$/\1/p' "$build/win32/version.h")
[ -n "$version" ] || { echo "release.sh: no version in $build/win32/version.h" >&2; exit 1; }
name=HalcyraCreator-$version
out=$root/dist/$name
rm -rf "$out" "$out.zip"
mkdir -p "$out"
cp "$build/win32/HalcyraCreator.exe" "$out/"
(cd "$out" && sha256sum HalcyraCreator.exe > SHA256SUMS)
# Windows line ends, so that Notepad shows the lines.
sed "s/@VERSION@/$version/" "$root/res/release/README.txt" | sed 's/$/\r/' > "$out/README.txt"
# The zip carries the commit's date on every entry, so that it too is the same on every build.
date=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
python3 - "$root/dist" "$name" "$date" <<'PY'
import os, sys, time, zipfile
dist, name, stamp = sys.argv[1], sys.argv[2], max(int(sys.argv[3]), 315532800)
when = time.gmtime(stamp)[:6]
with zipfile.ZipFile(os.path.join(dist, name + ".zip"), "w", zipfile.ZIP_DEFLATED) as archive:
    for file in ("HalcyraCreator.exe", "README.txt", "SHA256SUMS"):
        entry = zipfile.ZipInfo("%s/%s" % (name, file), when)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        with open(os.path.join(dist, name, file), "rb") as f:
            archive.writestr(entry, f.read())
PY
echo "Release: $out"
ls -l "$out" "$out.zip"
