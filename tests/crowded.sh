#!/usr/bin/env bash
# The whole Linux test suite on a host crowded with block devices: attaches
# N idle loop devices (distinct small images), runs ctest --preset linux,
# and detaches them, pass, fail or interrupt.
# usage: tests/crowded.sh N [CTEST ARGS...]   (root; from the source tree)
set -euo pipefail
n=${1:?usage: tests/crowded.sh N [CTEST ARGS...]}
shift
[ "$n" -ge 0 ] && [ "$n" -le 100 ] || {
  echo "N: 0 to 100 loop devices" >&2
  exit 2
}
cd "$(dirname "$0")/.."
work=$(mktemp -d /tmp/kormelde-crowded.XXXXXX)
loops=()
cleanup() {
  trap - EXIT INT TERM
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for ((i = 0; i < n; i++)); do
  truncate -s 1M "$work/idle$i.img"
  printf 'idle disk %d' "$i" | dd of="$work/idle$i.img" conv=notrunc status=none
  loops+=("$(losetup -f --show "$work/idle$i.img")")
done
echo "loop devices attached: $(losetup -a | wc -l) (this run's: ${#loops[@]})"
status=0
ctest --preset linux "$@" || status=$?
after=$(losetup -a | wc -l)
echo "loop devices after the suite: $after (this run's: ${#loops[@]})"
exit "$status"
