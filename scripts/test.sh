#!/usr/bin/env bash
# Builds the presets and runs their tests. Usage: scripts/test.sh [PRESET...]
# (default: linux linux-asan fuzz win32 win64, then the set-up test). Installs
# what the presets need first. Without 32-bit Wine the i686 tests that need
# it are skipped, and so is a test without a tool it needs (losetup, strace,
# script...), each named with the reason; a test with a failure never is.
# The closing line counts ctest's JUnit results: N passed, N failed, N skipped.
set -uo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan fuzz win32 win64)
layers=(linux)
for p in "${presets[@]}"; do
  case $p in
  linux | linux-asan | fuzz) ;;
  win32) layers+=(mingw wine64 wine32) ;;
  win64) layers+=(mingw wine64) ;;
  *)
    echo "test.sh: unknown preset '$p' (linux, linux-asan, fuzz, win32, win64)" >&2
    exit 2
    ;;
  esac
done
bash scripts/setup.sh $(printf '%s\n' "${layers[@]}" | sort -u) || exit 1
if [[ " ${presets[*]} " == *" win32 "* ]] &&
  ! { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' &&
    [ -x /usr/lib/wine/wine ]; }; then
  export KORMELDE_NO_WINE32="32-bit Wine (wine32:i386) is not installed"
fi
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

# attr NAME FILE: an attribute of the JUnit file's testsuite element.
attr() { sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$2" | head -1; }

passed=0 failed=0 skipped=0
for p in "${presets[@]}"; do
  echo "== test $p"
  t0=$(date +%s)
  junit=$PWD/build/$p/junit.xml
  rm -f "$junit"
  ctest --preset "$p" --output-junit "$junit" 2>&1 | tee "build/$p/ctest.log"
  total=$(attr tests "$junit") n_failed=$(attr failures "$junit") n_skipped=$(attr skipped "$junit")
  if [ -z "$total" ] || [ -z "$n_failed" ] || [ -z "$n_skipped" ]; then
    echo "== $p: no test results"
    failed=$((failed + 1))
    continue
  fi
  # Each skipped test with the reason it printed.
  awk -v preset="$p" '
    /<testcase / { match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7); skip = 0 }
    /<skipped/ { skip = 1 }
    skip && /(skipped|SKIP): |\[  SKIPPED \] / {
      sub(/.*(skipped|SKIP): |.*\[  SKIPPED \] /, ""); print "== skipped " preset " " name ": " $0; skip = 0
    }
  ' "$junit"
  passed=$((passed + total - n_failed - n_skipped))
  failed=$((failed + n_failed))
  skipped=$((skipped + n_skipped))
  echo "== $p tests took $(($(date +%s) - t0)) s"
done

# Set-up itself, under a package mirror that fails: on full runs only.
if [ $# -eq 0 ]; then
  echo "== test set-up under a failing mirror"
  if bash tests/setup/mirror_fault_test.sh; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi
echo "== total $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
