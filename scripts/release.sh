#!/usr/bin/env bash
# The release files in build/release: the Linux .deb, and a zip with both
# Windows builds (stripped) and a short readme. Builds what is missing.
#   scripts/release.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$root/build/release
rm -rf "$out"
mkdir -p "$out/zip/i686" "$out/zip/x86_64"
bash scripts/setup.sh linux mingw
for p in linux win32 win64; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$(nproc)" >/dev/null
done
(cd build/linux && cpack -G DEB -B "$out/deb" >/dev/null)
mv "$out"/deb/*.deb "$out/"
rm -rf "$out/deb"
i686-w64-mingw32-strip -o "$out/zip/i686/kormelde.exe" build/win32/kormelde.exe
x86_64-w64-mingw32-strip -o "$out/zip/x86_64/kormelde.exe" build/win64/kormelde.exe
# Windows line ends for Notepad.
sed 's/$/\r/' res/README-windows.txt >"$out/zip/README.txt"
version=$(sed -n 's/^project(kormelde VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
(cd "$out/zip" && zip -q -X -r "$out/kormelde-$version-windows.zip" README.txt i686 x86_64)
rm -rf "$out/zip"
ls -l "$out"
