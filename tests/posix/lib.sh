# Helpers for the backend's shell tests. Sourced; $1 mkimage, $2 disktool.
set -u
MKIMAGE=$1
DISKTOOL=$2
WORK=$(mktemp -d /tmp/kormelde-posix-sh.XXXXXX)
FAILS=0
CLEANUPS=()

cleanup() {
  local i
  for ((i = ${#CLEANUPS[@]} - 1; i >= 0; i--)); do eval "${CLEANUPS[i]}" >/dev/null 2>&1; done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# skip WHY: the rest cannot run here; failures already recorded still fail.
skip() {
  echo "SKIP: $*"
  [ "$FAILS" -eq 0 ] || finish
  exit 77
}

fail() {
  echo "FAIL: $*"
  FAILS=$((FAILS + 1))
}

check() { # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi
}

# disktool output field: field KEY OUTPUT
field() { printf '%s\n' "$2" | sed -n "s/^$1=//p" | head -n 1; }

# Number of differing bytes between two files or devices (first N bytes if given).
changed() {
  if [ $# -gt 2 ]; then cmp -l -n "$3" "$1" "$2" | wc -l; else cmp -l "$1" "$2" | wc -l; fi
}

finish() {
  if [ "$FAILS" -ne 0 ]; then
    echo "$FAILS check(s) failed"
    exit 1
  fi
  exit 0
}
