#!/usr/bin/env bash
# `kormelde list` with signatures on 32 loop devices, against
# `lsblk -o NAME,PTUUID,PTTYPE` and `blkid -p` over the same devices: wall
# time of each, RUNS paired runs in turn, medians; and the reads `list`
# makes on each loop device (strace -y, descriptors on /dev/loopN).
# usage: bench/list_loops.sh KORMELDE MKIMAGE [RUNS]   (root, losetup)
set -euo pipefail
kormelde=$1
mkimage=$2
runs=${3:-21}
work=$(mktemp -d)
loops=()
cleanup() {
  for l in "${loops[@]}"; do losetup -d "$l"; done
  rm -rf "$work"
}
trap cleanup EXIT
"$mkimage" at "$work/at.img" --sectors 8192 # 4 MiB: MBR, extended, 4 logical
for i in $(seq 1 32); do
  cp "$work/at.img" "$work/$i.img"
  loops+=("$(losetup -f --show "$work/$i.img")")
done

us() { # us COMMAND...: wall microseconds
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))
}
: >"$work/k" && : >"$work/l" && : >"$work/b"
for _ in $(seq "$runs"); do
  us "$kormelde" list >>"$work/k"
  us lsblk -o NAME,PTUUID,PTTYPE "${loops[@]}" >>"$work/l"
  us blkid -p "${loops[@]}" >>"$work/b"
done
median() { sort -n "$1" | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
printf '%-34s %10s\n' "command (32 loop devices)" "median µs"
printf '%-34s %10s\n' "kormelde list" "$(median "$work/k")"
printf '%-34s %10s\n' "lsblk -o NAME,PTUUID,PTTYPE" "$(median "$work/l")"
printf '%-34s %10s\n' "blkid -p" "$(median "$work/b")"
# Paired: each run's kormelde time over the peer's in the same round.
paste "$work/k" "$work/l" | awk '{print $1 / $2}' >"$work/kl"
paste "$work/k" "$work/b" | awk '{print $1 / $2}' >"$work/kb"
printf 'paired median ratio kormelde/lsblk %.2f, kormelde/blkid %.2f\n' \
  "$(median "$work/kl")" "$(median "$work/kb")"

# Reads per disk: the read calls list makes on each of the 32 devices.
strace -f -qq -y -e trace=read,pread64 -o "$work/trace" "$kormelde" list >/dev/null 2>&1 || true
for l in "${loops[@]}"; do grep -cF "<$l>" "$work/trace" || true; done | sort | uniq -c |
  awk '{printf "list: %d reads on %d of the loop devices\n", $2, $1}'
grep -F "<${loops[0]}>" "$work/trace" | awk '{b += $NF} END {printf "list: %d bytes read from one device\n", b}'
