#!/usr/bin/env bash
# VM images through qemu-nbd:
#   1. get on a qcow2 against qemu-img dd reading its sector 0, interleaved
#      (bench/pair.py), CPU and wall time of each;
#   2. list over 50 qcow2 images, and their opening (each image's boot area
#      read through its own qemu-nbd) four at a time against one at a time.
# usage: bench/vm_images.sh KORMELDE DISKTOOL [ROUNDS]
#   KORMELDE, DISKTOOL: build/linux/kormelde, build/linux/tests/posix/disktool
# Needs qemu-utils, sfdisk and python3 (bench/pair.py: wait4's CPU times).
set -euo pipefail
kormelde=$1
disktool=$2
rounds=${3:-11}
pair=$(dirname "$0")/pair.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 64M "$work/base.raw"
printf 'label: dos\nlabel-id: 0x12345678\n,32M,7\n' | sfdisk -q "$work/base.raw"
qemu-img convert -O qcow2 "$work/base.raw" "$work/one.qcow2"
for i in $(seq -w 1 50); do cp "$work/one.qcow2" "$work/vm$i.qcow2"; done

echo "== get on a qcow2 against qemu-img dd of sector 0"
python3 "$pair" --rounds "$rounds" --batch 5 \
  -c get "$kormelde get $work/one.qcow2" \
  -c dd "qemu-img dd -f qcow2 -O raw if=$work/one.qcow2 of=$work/s0 bs=512 count=1" \
  -r "get/dd=get/dd"

echo "== 50 qcow2 images: list, and their opening 4 and 1 at a time (disktool heads)"
images=$(ls "$work"/vm*.qcow2 | tr '\n' ' ')
python3 "$pair" --rounds "$rounds" --batch 1 \
  -c list "$kormelde list $images" \
  -c open4 "$disktool - heads 4 $images" \
  -c open1 "$disktool - heads 1 $images" \
  -r "open4/open1=open4/open1"
