#!/usr/bin/env bash
# Whole-process time and read I/O of `kormelde get IMG` beside the two
# util-linux peers that read the same value, on one AT image, in one run.
# usage: bench/get_vs_peers.sh KORMELDE MKIMAGE [RUNS]   (RUNS default 31)
# Time: wall clock of each run, median. I/O: read-family system calls of the
# whole process and the bytes they returned, and those on the image alone
# (strace -y names each descriptor's file), from one traced run.
set -euo pipefail
kormelde=$1
mkimage=$2
runs=${3:-31}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/at.img
"$mkimage" at "$img"

names=(kormelde sfdisk blkid)
commands=("$kormelde get $img" "sfdisk --disk-id $img" "blkid -p -o value -s PTUUID $img")

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

declare -A med
printf '%-9s %12s %8s %10s %8s %10s\n' tool median_us reads bytes img_reads img_bytes
for i in "${!names[@]}"; do
  cmd=${commands[$i]}
  $cmd >/dev/null 2>&1 # warm the page cache and the loader
  for ((r = 0; r < runs; r++)); do
    t0=$(date +%s%N)
    $cmd >/dev/null 2>&1
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
  done >"$work/times"
  med[$i]=$(median <"$work/times")
  strace -f -qq -y -e trace=read,pread64,readv,preadv,preadv2 -o "$work/trace" $cmd >/dev/null 2>&1
  awk -v img="$img" '
    /= [0-9]+$/ { n++; b += $NF; if (index($0, "<" img ">")) { ni++; bi += $NF } }
    END { printf "%8d %10d %8d %10d\n", n, b, ni, bi }' "$work/trace" >"$work/io"
  printf '%-9s %12s %s\n' "${names[$i]}" "${med[$i]}" "$(cat "$work/io")"
done
awk -v k="${med[0]}" -v s="${med[1]}" -v b="${med[2]}" 'BEGIN {
  printf "time ratio of medians: kormelde/sfdisk %.2f, kormelde/blkid %.2f (%s runs each)\n", k / s, k / b, '"$runs"' }'
