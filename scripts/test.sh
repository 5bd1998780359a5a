#!/usr/bin/env bash
# Builds all four presets and runs every test. Usage: scripts/test.sh [PRESET...]
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan win32 win64)
jobs=$(nproc 2>/dev/null || echo 2)

start=$(date +%s)
for p in "${presets[@]}"; do
  echo "== build $p"
  cmake --preset "$p" >/dev/null || exit 1
  cmake --build --preset "$p" -j "$jobs" || exit 1
done
echo "== built in $(($(date +%s) - start)) s"

# The shipped Windows program: stripped size and imported DLLs.
for p in "${presets[@]}"; do
  exe=build/$p/kormelde.exe
  [ -f "$exe" ] || continue
  case $p in win32) pfx=i686-w64-mingw32 ;; *) pfx=x86_64-w64-mingw32 ;; esac
  $pfx-strip -o "build/$p/kormelde.stripped.exe" "$exe"
  size=$(stat -c %s "build/$p/kormelde.stripped.exe")
  dlls=$($pfx-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
  echo "== $p kormelde.exe stripped: $size bytes ($((size / 1024)) KiB); imports: $dlls"
done

passed=0 failed=0
for p in "${presets[@]}"; do
  echo "== test $p"
  t0=$(date +%s)
  log=build/$p/ctest.log
  ctest --preset "$p" 2>&1 | tee "$log"
  n_total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  n_failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  if [ -z "$n_total" ]; then
    failed=$((failed + 1))
  else
    passed=$((passed + n_total - n_failed))
    failed=$((failed + n_failed))
  fi
  echo "== $p tests took $(($(date +%s) - t0)) s"
done
echo "== total $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
