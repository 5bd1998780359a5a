#!/usr/bin/env bash
# The disk written is the disk named and confirmed: a file replaced or a
# loop device re-attached while the questions are open is refused, nothing
# written; one lock per disk whatever its file is called; what write
# reports is what it replaced; any number of disks; each disk opened once.
. "$(dirname "$0")/lib.sh"
cd "$WORK" || exit 1
OTHER_DISK="理由: 指定した名前が最初に確認したディスクとは別のディスクを指しています(ディスクの抜き差し等)。何も書き込んでいません。"

# A file replaced (removed and copied anew, or renamed over) while the
# confirmation is open, on each format and container.
if needs script; then
  for kind in "at raw img" "pc98 raw img" "at vhd vhd" "pc98 hdi hdi"; do
    set -- $kind
    name=$1-$2.$3
    "$MKIMAGE" "$1" "$name" --container "$2" --sig 11111111
    "$MKIMAGE" "$1" "clone-$name" --container "$2" --sig 11111111 --sectors 70000
    for swap in "rm $name && cp clone-$name $name" "mv $name moved-$name && cp clone-$name $name"; do
      cp "$name" orig
      on_tty tty "'$K' write $name 44444444" y "!$swap" y
      [ $rc = 1 ] || fail "$name, $swap: exit $rc"
      grep -qF "$OTHER_DISK" tty || fail "$name, $swap: no reason"
      expect_unchanged "clone-$name" "$name" "$name, $swap: the clone"
      [ -e "moved-$name" ] && expect_unchanged orig "moved-$name" "$name, $swap: the original"
      rm -f "moved-$name"
      cp orig "$name"
    done
  done
fi

# A loop device detached and attached to a clone while the confirmation is
# open: the run holds the device, so the clone cannot take its place, and
# it is never written.
if needs script loop; then
  "$MKIMAGE" at a.img --sig 11111111
  "$MKIMAGE" at clone.img --sig 11111111 --sectors 70000
  cp clone.img clone.orig
  attach a.img
  l=$loop
  on_tty tty "'$K' write $l 44444444" y "!losetup -d $l; mv a.img a-moved.img; mv clone.img a.img; losetup $l a.img" y
  expect_unchanged clone.orig a.img "$l re-attached: the clone"
  # Detached with the run's end; attached to the clone if that was let through.
  losetup -d "$l" 2>/dev/null
  [ $rc = 0 ] || grep -qF "$OTHER_DISK" tty || fail "$l re-attached: exit $rc without the reason"
fi

# One lock per disk, found by identity: a backing file whose name holds a
# newline or runs past 511 bytes. A writer on the file held in its fsync
# makes a writer on the loop device give up.
if needs strace loop; then
  long=$(printf 'x%.0s' $(seq 200))/$(printf 'y%.0s' $(seq 200))/$(printf 'z%.0s' $(seq 200)).img
  mkdir -p "${long%/*}"
  for file in "$(printf 'new\nline.img')" "$long"; do
    "$MKIMAGE" at "$file" --sig 11111111
    attach "$file"
    ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=fsync -e inject=fsync:delay_enter=2000000:when=1 \
      "$K" --yes write "$file" 33333333 >/dev/null 2>&1 </dev/null &
    sleep 0.7
    run --yes write "$loop" 44444444
    wait $!
    first=$?
    expect_rc 1 "loop over ${#file}-byte name while its file is written"
    expect_err "理由: ディスクは他のプログラムが書き込み中です(ロック中)。" "lock, ${#file}-byte name"
    [ "$first" = 0 ] || fail "write on the ${#file}-byte file: exit $first"
    [ "$(sfdisk --disk-id "$file")" = 0x33333333 ] || fail "lock, ${#file}-byte name: disk holds $(sfdisk --disk-id "$file")"
  done
fi

# What write says is what it did: the value replaced when the signature
# changed during the notice, and nothing claimed for writing the value the
# disk already holds.
"$MKIMAGE" at j.img --sig 1A1A1A1A
if needs script; then
  on_tty tty "'$K' --json write j.img 3C3C3C3C >json" \
    "!printf '\x2b\x2b\x2b\x2b' | dd of=j.img bs=1 seek=$((0x1B8)) conv=notrunc" y y
  [ $rc = 0 ] || fail "changed during the notice: exit $rc"
  grep -q '\[2B2B2B2B\] を' tty || fail "changed during the notice: not asked with the value now"
  python3 -c "import json,sys; d=json.load(open('json')); assert (d['old_signature'], d['signature'], d['written']) == ('0x2b2b2b2b', '0x3c3c3c3c', True), d" ||
    fail "changed during the notice: JSON"
fi
held=$(sfdisk --disk-id j.img)
run --yes --json write j.img "$held"
expect_rc 0 "write the value held"
python3 -c "import json,sys; d=json.load(open('$WORK/out')); assert (d['old_signature'], d['written']) == ('$held', False), d" ||
  fail "write the value held: JSON claims a write"

# Each disk opened once: get --json and write open the image's path once.
if needs strace; then
  for args in "--json get j.img" "--yes write j.img 55555555"; do
    ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=open,openat -o trace "$K" $args </dev/null >/dev/null 2>&1
    opens=$(grep -c '/j\.img"' trace)
    [ "$opens" = 1 ] || fail "$args: the image opened $opens times"
  done
fi

# Any number of disks: with 60 loop devices attached, list numbers them all,
# images named after them still get a number, and the collision check
# reaches the last of them.
if needs loop; then
  for ((i = 0; i < 60; i++)); do
    "$MKIMAGE" at-primary "many$i.img" --sig $(printf '%08X' $((0x60000000 + i))) || break
    attach "many$i.img" || break
    [ $i = 0 ] && many0=$loop
  done
  "$MKIMAGE" at img.img --sig 11111111
  run list img.img
  expect_rc 0 "list with 60 loop devices"
  n=$(awk '$2 ~ /img\.img$/ {print $1}' "$WORK/out")
  [ -n "$n" ] && [ "$n" -gt 60 ] || fail "list with 60 loop devices: the image numbered '$n'"
  run -q --yes write img.img 6000003B
  expect_rc 0 "write with 60 loop devices"
  grep -q "ディスク #[0-9]* $loop" "$WORK/err" || fail "write: collision with the last loop device not found"
  run --yes write img.img random
  expect_rc 0 "write random with 60 loop devices"
  # What a disk costs: get reads the boot area's pages and no more (no
  # read-ahead on the device); a write of an image locks the loop device
  # over it through the descriptor the run holds (opened once).
  last=$loop
  read0=$(awk '{print $3}' "/sys/block/${last#/dev/}/stat")
  run get "$last"
  read1=$(awk '{print $3}' "/sys/block/${last#/dev/}/stat")
  [ $((read1 - read0)) -le 64 ] || fail "get $last: $((read1 - read0)) sectors read from the device"
  if needs strace; then
    attach img.img
    ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y -e trace=open,openat,pread64 -o trace "$K" --yes write img.img random </dev/null >/dev/null 2>&1
    opens=$(grep -c "\"$loop\"" trace)
    [ "$opens" = 1 ] || fail "write of an image with a loop device over it: $loop opened $opens times"
    # Another AT disk: its signature, its tables and its partitions' first
    # sectors (Windows stores), each sector alone.
    bytes=$(grep -F "<$many0>" trace | awk '/pread64/ {b += $NF} END {print b + 0}')
    [ "$bytes" -le 8192 ] || fail "write: $bytes bytes read from another disk"
  fi
fi
finish
