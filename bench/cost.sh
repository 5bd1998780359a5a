#!/usr/bin/env bash
# What a run of kormelde costs beside the util-linux program that does the
# same, paired and interleaved (bench/pair.py: CPU and wall time, median
# and quartiles over the rounds), with every system call of one run of each.
# usage: bench/cost.sh MODE KORMELDE MKIMAGE [ROUNDS]     (root; ROUNDS 31)
#   get-image  get IMG beside fdisk -l IMG, with 128 other disks attached
#   get-loop   get /dev/loopN beside fdisk -l /dev/loopN, 128 other disks
#   write      -y -q write IMG random beside sfdisk --disk-id IMG 0xNNNNNNNN,
#              32 other disks; each run after 300 ms idle, as sfdisk's own
#              wait leaves the run after it
#   list       list over 32 disks and over none, beside blkid -p over 32
#              and over 1: the cost of one more disk, (list32 - list0) / 32
#              over (blkid32 - blkid1) / 31; also list32 over blkid -p over
#              the 32 disks in one run and in one run per disk
#   all        each of these
# BEFORE=PROGRAM: also counts the system calls of that (older) build.
# MKIMAGE: build/linux/tests/tools/mkimage.
source "$(dirname "$0")/lib.sh"
bench_start "$@"
MODE=$1
K=$(realpath "$2")
MKIMAGE=$(realpath "$3")
ROUNDS=${4:-31}
BEFORE=${BEFORE:+$(realpath "$BEFORE")}

# counted LABEL ARGS...: calls of kormelde ARGS (and of BEFORE's).
counted() {
  local label=$1
  shift
  calls "$label" "$K" "$@"
  [ -z "$BEFORE" ] || calls "$label(before)" "$BEFORE" "$@"
}

get_image() {
  echo "== get IMG, fdisk -l IMG; $(($1)) other disks"
  make_image 0 "$WORK/target.img"
  pair -c kormelde "$K get $WORK/target.img" -c fdisk "fdisk -l $WORK/target.img" \
    -r "get/fdisk=kormelde/fdisk"
  counted "kormelde get" get "$WORK/target.img"
  calls "fdisk -l" fdisk -l "$WORK/target.img"
}

get_loop() {
  echo "== get /dev/loopN, fdisk -l /dev/loopN; $(($1)) other disks"
  make_image 0 "$WORK/target.img"
  attach "$WORK/target.img"
  local loop=$ATTACHED
  pair -c kormelde "$K get $loop" -c fdisk "fdisk -l $loop" -r "get/fdisk=kormelde/fdisk"
  counted "kormelde get" get "$loop"
  calls "fdisk -l" fdisk -l "$loop"
}

write() {
  echo "== write IMG random, sfdisk --disk-id IMG 0x...; $(($1)) other disks"
  make_image 1 "$WORK/target.img"
  # sfdisk sleeps 250 ms before it writes: every run starts after as long.
  pair --settle 300 -c kormelde "$K -y -q write $WORK/target.img random" \
    -c sfdisk "sfdisk --disk-id $WORK/target.img 0x5EED0001" -r "write/sfdisk=kormelde/sfdisk"
  counted "kormelde write" -y -q write "$WORK/target.img" random
  calls "sfdisk --disk-id" sfdisk --disk-id "$WORK/target.img" 0x5EED0002
}

list() {
  echo "== list over 32 disks and none, blkid -p over 32 and 1"
  local empty=$WORK/empty
  mkdir "$empty"
  # list0 sees an empty view: the same program, no disks.
  pair -c list32 "$K list" -c list0 "$K list" \
    -p list0 "mount --bind $empty /sys/dev/block" -a list0 "umount /sys/dev/block" \
    -c blkid32 "blkid -p ${LOOPS[*]}" -c blkid1 "blkid -p ${LOOPS[0]}" \
    -r "list/blkid=(list32-list0)/32/((blkid32-blkid1)/31)" -r "list32/blkid32=list32/blkid32" \
    -r "list32/(32 x blkid1)=list32/(32*blkid1)"
  counted "kormelde list" list
  calls "blkid -p (32)" blkid -p "${LOOPS[@]}"
}

case $MODE in
get-image) others 128 && get_image 128 ;;
get-loop) others 128 && get_loop 128 ;;
write) others 32 && write 32 ;;
list) others 32 && list ;;
all)
  others 32
  write 32
  list
  for ((i = 32; i < 128; i++)); do
    make_image "$i" "$WORK/other$i.img"
    attach "$WORK/other$i.img"
  done
  get_image 128
  get_loop 128
  ;;
*)
  echo "unknown mode $MODE (get-image, get-loop, write, list, all)" >&2
  exit 2
  ;;
esac
