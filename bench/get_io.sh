#!/usr/bin/env bash
# Read I/O of a Get (geometry, layout query, boot-format detection on one
# read handle) on the AT image with four logical partitions, and of three
# util-linux peers on the same image, counted on the image's descriptors.
# usage: bench/get_io.sh DISKTOOL MKIMAGE
#   DISKTOOL, MKIMAGE: build/<preset>/tests/posix/disktool, .../tests/tools/mkimage
# Needs strace; installs it with apt-get when missing (a benchmark, not CI).
set -euo pipefail
disktool=$1
mkimage=$2
if ! command -v strace >/dev/null; then
  apt-get install -y -qq strace >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/at.img
"$mkimage" at "$img"

# strace -y prints each descriptor's path: keep the reads of the image.
count() { # count COMMAND...: prints "reads bytes"
  strace -f -qq -y -e trace=read,pread64,readv,preadv,preadv2 -o "$work/trace" "$@" >/dev/null 2>&1 || true
  grep -F "<$img>" "$work/trace" | grep -v 'resumed' |
    awk '{ n++; b += $NF } END { printf "%d %d\n", n, b }'
}

labels=("Get (kormelde backend)" "fdisk -l" "sfdisk --disk-id" "blkid -p")
commands=("$disktool $img get" "fdisk -l $img" "sfdisk --disk-id $img" "blkid -p $img")
printf '%-24s %6s %8s\n' command reads KiB
for i in "${!labels[@]}"; do
  read -r n b <<<"$(count ${commands[$i]})"
  awk -v l="${labels[$i]}" -v n="$n" -v b="$b" 'BEGIN { printf "%-24s %6d %8.1f\n", l, n, b / 1024 }'
done
