#!/usr/bin/env bash
# Wall time of the Windows test command under Wine, cold (fresh prefix) and
# warm, and what one Wine test costs with and without the detached
# wineserver.   bench/wine_tests.sh BUILD_DIR [CTEST_ARGS...]
# BUILD_DIR is a configured and built win32 or win64 tree. The prefix in
# BUILD_DIR/wineprefix is deleted for the cold run.
set -eu
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")/.." && pwd)
grep -q 'x86_64-w64-mingw32' "$build/CMakeCache.txt" && arch=win64 || arch=win32
prefix=$build/wineprefix
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e9 }'; }

run_ctest() {
  local t0 t1 rc=0
  t0=$(date +%s%N)
  ctest --test-dir "$build" "$@" >"$build/bench-ctest.log" 2>&1 || rc=$?
  t1=$(date +%s%N)
  echo "$(seconds "$t0" "$t1") s (ctest exit $rc, $(grep -c ' Passed ' "$build/bench-ctest.log") passed," \
    "$(grep -cE '\*\*\*|Not Run' "$build/bench-ctest.log") not passed)"
}

"$here/tests/win/wine-server.sh" stop "$arch" "$prefix" >/dev/null
rm -rf "$prefix" "$prefix.lock"
echo "$arch cold ctest $*: $(run_ctest "$@")"
grep -E 'wine_start|gui_start' "$build/bench-ctest.log" | sed 's/^ */  /'
echo "$arch warm ctest $*: $(run_ctest "$@")"
echo "  per test, wineserver detached and persistent:"
grep -E 'Test +#[0-9]+: win_disk_' "$build/bench-ctest.log" | sed 's/^.*: /    /; s/ \.\.*/ /'

# The same test program with no wineserver running and its output on a
# pipe, as a test would run without the fixture.
exe=$build/tests/win/disk/win_disk_device_tests.exe
if [ -x "$exe" ]; then
  "$here/tests/win/wine-server.sh" start "$arch" "$prefix" >/dev/null
  "$here/tests/win/disk/map-images.sh" map "$prefix" "$build/tests/win/disk/images"
  export KORMELDE_TEST_IMAGES=$build/tests/win/disk/images WINEPREFIX=$prefix
  t0=$(date +%s%N)
  "$here/tests/win/wine-run.sh" "$arch" "$exe" | cat >/dev/null
  t1=$(date +%s%N)
  echo "  win_disk_device_tests, detached server: $(seconds "$t0" "$t1") s"
  "$here/tests/win/wine-server.sh" stop "$arch" "$prefix" >/dev/null
  t0=$(date +%s%N)
  timeout 120 "$here/tests/win/wine-run.sh" "$arch" "$exe" | cat >/dev/null || true
  t1=$(date +%s%N)
  echo "  win_disk_device_tests, no server (Wine starts one on the pipe): $(seconds "$t0" "$t1") s"
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  /usr/lib/wine/wineserver64 -w 2>/dev/null || true
  "$here/tests/win/disk/map-images.sh" unmap "$prefix" "$build/tests/win/disk/images"
fi
