#!/usr/bin/env bash
# Set-up under a package mirror in the middle of a sync: stand-ins for
# apt-get, dpkg and dpkg-query first on PATH fail every index refresh,
# refuse wine32:i386 ("held broken packages") and report it and strace as
# not installed. Then demo.sh still shows both reports without touching
# dpkg's architectures, test.sh linux passes, and test.sh win32 names its
# skipped tests and exits 0. Uses the build trees as they are.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
log=$fake/calls.log
export KORMELDE_FAKE_LOG=$log KORMELDE_FAKE_MISSING="strace wine32:i386" APT_RETRY_PAUSE=0

cat >"$fake/apt-get" <<'STANDIN'
#!/bin/sh
echo "apt-get $*" >>"$KORMELDE_FAKE_LOG"
case " $* " in
*" update "*)
  echo "E: Failed to fetch binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
  exit 100 ;;
*" wine32:i386 "*)
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100 ;;
esac
exit 0
STANDIN
cat >"$fake/dpkg-query" <<'STANDIN'
#!/bin/sh
for p in $KORMELDE_FAKE_MISSING; do
  for a in "$@"; do [ "$a" = "$p" ] && { echo "unknown ok not-installed"; exit 1; }; done
done
exec /usr/bin/dpkg-query "$@"
STANDIN
cat >"$fake/dpkg" <<'STANDIN'
#!/bin/sh
case $1 in --add-architecture) echo "dpkg $*" >>"$KORMELDE_FAKE_LOG"; exit 0 ;; esac
exec /usr/bin/dpkg "$@"
STANDIN
chmod +x "$fake"/*
export PATH=$fake:$PATH

status=0
check() { # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; status=1; fi
}

out=$(bash "$root/scripts/demo.sh" 2>&1)
rc=$?
check "demo.sh exits 0 (exit $rc)" [ $rc -eq 0 ]
check "demo.sh shows both reports" [ "$(grep -c '^NTSig' <<<"$out")" -eq 2 ]
check "demo.sh says the index was not refreshed" grep -q 'package index not refreshed' <<<"$out"
none() { ! grep -q "$@"; }
check "demo.sh never touches dpkg's architectures" none '^dpkg ' "$log"
check "demo.sh does not ask for wine32" none 'wine32' "$log"

out=$(bash "$root/scripts/test.sh" linux 2>&1)
rc=$?
check "test.sh linux exits 0 (exit $rc): $(tail -n1 <<<"$out")" [ $rc -eq 0 ]
check "test.sh linux skips nothing" grep -q '^[1-9][0-9]* passed, 0 failed, 0 skipped$' <<<"$out"

out=$(bash "$root/scripts/test.sh" win32 2>&1)
rc=$?
check "test.sh win32 exits 0 (exit $rc): $(tail -n1 <<<"$out")" [ $rc -eq 0 ]
check "setup names wine32, apt's reason and the loss" grep -q \
  '^setup: cannot install wine32:i386: Unable to correct problems, you have held broken packages.; i686 Wine tests will be skipped$' \
  <<<"$out"
check "the skipped tests are named with the reason" grep -q \
  '^== skipped win32 core_tests: 32-bit Wine (wine32:i386) is not installed$' <<<"$out"
check "the checks without Wine still run" grep -q '^[1-9][0-9]* passed, 0 failed, [1-9][0-9]* skipped$' <<<"$out"
check "texts and resources still checked" grep -q 'texts found, 0 missing' "$root/build/win32/junit.xml"
exit $status
