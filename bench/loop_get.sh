#!/usr/bin/env bash
# Get on a loop device with 32 other loop devices attached, beside the two
# util-linux peers that read the same table, and the disk list's reads.
# usage: bench/loop_get.sh KORMELDE MKIMAGE [PAIRS] [KORMELDE_FAULTS]
#   PAIRS (default 21): paired batches; each batch runs every command BATCH
#   (20) times and takes the processes' CPU time (user + system); the ratio
#   is kormelde's batch over the peer's, the figure the median of the ratios.
#   Listings: how often one get, write or list lists the disks (opens of
#   /sys/block or /sys/dev/block, strace), and its system calls.
#   KORMELDE_FAULTS (tests/posix/kormelde_faults): also prints the table of
#   tests/cli/faults_test.sh.
# Needs root and losetup; attaches 33 loop devices and detaches them.
set -euo pipefail
kormelde=$1
mkimage=$2
pairs=${3:-21}
faults=${4:-}
batch=20
work=$(mktemp -d)
loops=()
cleanup() {
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

for ((i = 0; i < 32; i++)); do
  truncate -s 1M "$work/other$i.img"
  loops+=("$(losetup -f --show "$work/other$i.img")")
done
"$mkimage" at "$work/at.img"
loop=$(losetup -f --show "$work/at.img")
loops+=("$loop")
echo "loop devices attached: $(losetup -a | wc -l) (this run's: ${#loops[@]}, target $loop)"

# cpu COMMAND...: CPU milliseconds of BATCH runs of COMMAND.
cpu() {
  local TIMEFORMAT='%3U %3S' t
  t=$({ time (for ((k = 0; k < batch; k++)); do "$@" >/dev/null 2>&1 </dev/null; done); } 2>&1)
  awk '{printf "%d\n", ($1 + $2) * 1000}' <<<"$t"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

"$kormelde" get "$loop" >/dev/null 2>&1 # warm the page cache and the loader
fdisk -l "$loop" >/dev/null 2>&1
blkid -p "$loop" >/dev/null 2>&1
: >"$work/fdisk" && : >"$work/blkid" && : >"$work/k"
for ((p = 0; p < pairs; p++)); do
  k=$(cpu "$kormelde" get "$loop")
  f=$(cpu fdisk -l "$loop")
  k2=$(cpu "$kormelde" get "$loop")
  b=$(cpu blkid -p "$loop")
  echo "$k $k2" >>"$work/k"
  awk -v k="$k" -v f="$f" 'BEGIN { print (f > 0 ? k / f : 0) }' >>"$work/fdisk"
  awk -v k="$k2" -v b="$b" 'BEGIN { print (b > 0 ? k / b : 0) }' >>"$work/blkid"
  echo "$f" >>"$work/fcpu"
  echo "$b" >>"$work/bcpu"
done
printf 'CPU ms per %d runs, medians of %d pairs: kormelde get %s, fdisk -l %s, blkid -p %s\n' \
  "$batch" "$pairs" "$(awk '{print $1}' "$work/k" | median)" "$(median <"$work/fcpu")" \
  "$(median <"$work/bcpu")"
printf 'median ratio kormelde get / fdisk -l: %.2f\n' "$(median <"$work/fdisk")"
printf 'median ratio kormelde get / blkid -p: %.2f\n' "$(median <"$work/blkid")"

# System calls and disk listings of one run each.
count() { # count ARGS...: "calls scans"
  strace -f -qq -c -o "$work/summary" "$kormelde" "$@" >/dev/null 2>&1 </dev/null || true
  strace -f -qq -e trace=openat,open -o "$work/trace" "$kormelde" "$@" >/dev/null 2>&1 </dev/null || true
  printf '%s %s\n' "$(awk '$NF == "total" {print $(NF-2)}' "$work/summary")" \
    "$(grep -cE '"/sys/(dev/)?block"' "$work/trace")"
}
if command -v strace >/dev/null; then
  printf '%-34s %8s %18s\n' run syscalls "disk listings"
  for args in "get $loop" "get $work/at.img" "--yes write $loop 5A6B7C8D" "--yes write $loop 1234ABCD" list; do
    read -r calls scans <<<"$(count $args)"
    printf '%-34s %8s %18s\n' "${args/$work\//}" "$calls" "$scans"
  done
fi

if [ -n "$faults" ]; then
  here=$(cd "$(dirname "$0")" && pwd)
  echo
  echo "write with each system call failing in turn (tests/cli/faults_test.sh):"
  bash "$here/../tests/cli/faults_test.sh" "$faults" "$mkimage" "$work/faults" | grep -v '^ok'
fi
