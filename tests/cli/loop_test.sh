#!/usr/bin/env bash
# Block devices: loop devices with 512- and 4096-byte sectors, `list`, a
# mounted partition named by its mount point, a write while it stays
# mounted, and the Access sweep counted in the device's stat.
. "$(dirname "$0")/lib.sh"

[ "$(id -u)" = 0 ] || skip "needs root for losetup"
needs losetup sfdisk || skip "no losetup or sfdisk"

mounted=""
node=""
at_exit '[ -n "$node" ] && rm -f "$node"'
at_exit '[ -n "$mounted" ] && umount "$mounted"'

truncate -s 1M "$WORK/probe.img"
attach "$WORK/probe.img" 2>/dev/null || skip "losetup cannot attach here"

# 512-byte sectors: the same report as the image file itself.
"$MKIMAGE" at "$WORK/at.img"
cp "$WORK/at.img" "$WORK/at.orig"
attach "$WORK/at.img"
l512=$loop
run get "$l512"
expect_rc 0 "get $l512"
expect_out "$EXPECTED/at-raw.get" "get $l512"
expect_err "ディスク $l512 の情報取得中。" "get $l512"

run list
expect_rc 0 list
# Sizes as lsblk gives them.
awk -v p="$l512" -v s="$(lsblk -dno SIZE "$l512" | tr -d ' ')" '$2 == p && $3 == s' "$WORK/out" |
  grep -q . || {
  fail "list does not show $l512 with its size"
  cat "$WORK/out" >&2
}
# The number list gives names the same disk.
n=$(awk -v p="$l512" '$2 == p {print $1}' "$WORK/out")
run get "$n"
expect_rc 0 "get $n"
expect_err "ディスク #$n = $l512" "get $n"
expect_out "$EXPECTED/at-raw.get" "get $n"

# Access: exactly 200 reads reach the device, the page cache bypassed.
stat_reads() { awk '{print $1}' "/sys/block/${1#/dev/}/stat"; }
before=$(stat_reads "$l512")
run access "$l512"
expect_rc 0 "access $l512"
expect_err "ディスク $l512 にアクセス中。" "access $l512"
after=$(stat_reads "$l512")
[ $((after - before)) = 200 ] || fail "access $l512: $((after - before)) reads, expected 200"

# The system's disks are listed once per run at most, the write's three opens
# included.
if needs strace; then
  for args in "get $l512" "--yes write $l512 5A6B7C8D" "--yes write $n 1234ABCD"; do
    # shellcheck disable=SC2086
    ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=openat,open -o "$WORK/trace" "$K" $args </dev/null >/dev/null 2>&1
    scans=$(grep -cE '"/sys/(dev/)?block"' "$WORK/trace")
    [ "$scans" -le 1 ] || fail "$args: disks listed $scans times"
  done
fi

run --yes write "$l512" 5A6B7C8D
expect_rc 0 "write $l512"
# The question names the device and what tells it from a clone.
expect_err "　対象: $l512 ($WORK/at.img)" "write $l512"
[ "$(sfdisk --disk-id "$l512")" = 0x5a6b7c8d ] || fail "write $l512: sfdisk reads $(sfdisk --disk-id "$l512")"
expect_four_bytes "$WORK/at.orig" "$WORK/at.img" $((0x1B8)) "write $l512"

# The image and the loop device over it are one disk with one lock: a
# writer on one name, held in its pwrite, makes a writer on the other give
# up; the disk holds the first one's value.
sig_of() { od -An -tx1 -j $((0x1B8)) -N4 "$1" | tr -d ' '; }
if needs strace; then
  for pair in "$WORK/at.img $l512 11223344 44332211" "$l512 $WORK/at.img 99AABBCC ccbbaa99"; do
    set -- $pair
    ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=pwrite64 -e inject=pwrite64:delay_enter=2000000 \
      "$K" --yes write "$1" "$3" >/dev/null 2>&1 </dev/null &
    sleep 0.5
    run --yes write "$2" 55667788
    wait $!
    first=$?
    expect_rc 1 "write $2 while $1 is written"
    expect_err "理由: ディスクは他のプログラムが書き込み中です(ロック中)。" "write $2 while $1 is written"
    [ "$first" = 0 ] || fail "write $1: exit $first"
    [ "$(sig_of "$WORK/at.img")" = "$4" ] || fail "write $1: the disk holds $(sig_of "$WORK/at.img")"
  done
fi

# A read-only loop device is refused as such before anything is written.
attach -r "$WORK/at.img"
run --yes write "$loop" 1
expect_rc 1 "write read-only $loop"
expect_err "理由: ディスクは読込専用です。" "write read-only $loop"

# 4096-byte sectors: a table made on the device itself.
truncate -s 64M "$WORK/4k.img"
attach --sector-size 4096 "$WORK/4k.img"
l4k=$loop
printf 'label: dos\nlabel-id: 0x4096abcd\n\n,4M,c\n,,83\n' | sfdisk -q "$l4k" >/dev/null 2>&1 ||
  fail "sfdisk on $l4k"
cp "$WORK/4k.img" "$WORK/4k.orig"
run get "$l4k"
expect_rc 0 "get $l4k"
grep -qxF "$(printf 'NTSig\t= 4096ABCD')" "$WORK/out" || fail "get $l4k: $(head -1 "$WORK/out")"
grep -qF 'AT互換機' "$WORK/out" || fail "get $l4k: not AT-compatible"
# DISK is the device's own size (not whole 255 x 63 cylinders of 4096 bytes).
grep -qxF "$(printf 'DISK\t= 64MB')" "$WORK/out" || fail "get $l4k: $(sed -n 3p "$WORK/out")"
run --sector-size 512 get "$l4k"
expect_rc 1 "get $l4k --sector-size 512"
grep -q '^理由: --sector-size' "$WORK/err" || fail "$l4k --sector-size 512: no reason"
run --yes write "$l4k" 5A6B7C8D
expect_rc 0 "write $l4k"
[ "$(sfdisk --disk-id "$l4k")" = 0x5a6b7c8d ] || fail "write $l4k: sfdisk reads $(sfdisk --disk-id "$l4k")"
[ "$(blkid -p -o value -s PTUUID "$l4k")" = 5a6b7c8d ] || fail "write $l4k: blkid disagrees"
expect_four_bytes "$WORK/4k.orig" "$WORK/4k.img" $((0x1B8)) "write $l4k"

# Clones: two loop devices with one signature are marked in list, with
# each other only (a loop device and its own backing file are one disk);
# random avoids them; the PARTUUIDs said to change are partx's.
"$MKIMAGE" at "$WORK/c1.img" --sig 0C10E0C1
cp "$WORK/c1.img" "$WORK/c2.img"
attach "$WORK/c1.img"
c1=$loop
attach "$WORK/c2.img"
c2=$loop
run --json list "$WORK/c1.img"
expect_rc 0 "list clones"
coll() { /usr/bin/python3 -c 'import json, sys
d = {x["device"]: x for x in json.load(open(sys.argv[1]))["disks"]}
n = {x["number"]: x["device"] for x in d.values()}
print(" ".join(n[c] for c in d[sys.argv[2]]["collides_with"]))' "$WORK/out" "$1"; }
[ "$(coll "$c1")" = "$c2" ] || fail "list: $c1 collides with [$(coll "$c1")], expected $c2"
[ "$(coll "$WORK/c1.img")" = "$c2" ] || fail "list: c1.img collides with [$(coll "$WORK/c1.img")]"
old_parts=$(partx -g -o UUID "$WORK/c1.img" | sort | tr '\n' ' ')
run --yes write "$c1" random
expect_rc 0 "write random on a clone"
new=$(sfdisk --disk-id "$c1")
[ "$new" != 0x0c10e0c1 ] && [ "$new" != 0x00000000 ] || fail "write random: $new"
said_old=$(sed -n 's/^　\(0c10e0c1-..\) → .*/\1/p' "$WORK/out" | sort | tr '\n' ' ')
[ "$said_old" = "$old_parts" ] || fail "changed PARTUUIDs: [$said_old], blkid [$old_parts]"
# A read-only device is refused before the caution notice.
attach -r "$WORK/c2.img"
run --yes write "$loop" 12345678
expect_rc 1 "write read-only $loop"
expect_err "理由: ディスクは読込専用です。" "write read-only $loop"
grep -q '注意事項' "$WORK/err" && fail "read-only $loop: caution notice shown"

# A mounted partition: Get reads its disk after the question; Access and
# Write refuse it; the disk can be written while the partition is mounted.
if needs mkfs.ext2; then
  truncate -s 32M "$WORK/fs.img"
  printf 'label: dos\nlabel-id: 0x11223344\n\n,,83\n' | sfdisk -q "$WORK/fs.img" >/dev/null
  attach -P "$WORK/fs.img"
  lfs=$loop
  part=${lfs}p1
  name=${lfs#/dev/}p1
  [ -e "/sys/block/${lfs#/dev/}/$name" ] || partx -a "$lfs"
  for _ in 1 2 3 4 5 6 7 8 9 10; do [ -b "$part" ] && break; sleep 0.1; done
  if [ ! -b "$part" ] && [ -r "/sys/block/${lfs#/dev/}/$name/dev" ]; then
    dev=$(cat "/sys/block/${lfs#/dev/}/$name/dev")
    mknod "$part" b "${dev%:*}" "${dev#*:}" && node=$part
  fi
  mkdir -p "$WORK/mnt"
  if [ -b "$part" ] && mkfs.ext2 -q "$part" && mount "$part" "$WORK/mnt"; then
    mounted=$WORK/mnt
    cp "$WORK/fs.img" "$WORK/fs.orig"
    run --yes get "$WORK/mnt"
    expect_rc 0 "get mount point"
    n=$(bound_number)
    grep -qF "[$WORK/mnt]をディスク番号[$n]($lfs)と読替えて" "$WORK/err" || {
      fail "get mount point: question does not name $lfs"
      show_err
    }
    grep -qxF "$(printf 'NTSig\t= 11223344')" "$WORK/out" || fail "get mount point: $(head -1 "$WORK/out")"
    grep -q '^番号ではなくマウントポイントが指定されました。' "$WORK/err" || fail "get mount point: not called one"
    run --no get "$WORK/mnt"
    expect_rc 1 "get mount point --no"
    expect_no_out "get mount point --no"
    expect_err "中止しました。" "get mount point --no"
    # JSON names the partition's device.
    run --json get "$lfs"
    [ "$(python3 -c 'import json,sys; p=json.load(open(sys.argv[1]))["partitions"][0]
print(p["node"], p["start"])' "$WORK/out")" = "$part 2048" ] || fail "get --json $lfs: partition node"
    run get "$part"
    expect_rc 1 "get partition, standard input closed"
    for target in "$WORK/mnt" "$part"; do
      run --yes access "$target"
      expect_rc 1 "access $target"
      expect_err "[$target]はパーティションです。" "access $target"
      run --yes write "$target" 5A6B7C8D
      expect_rc 1 "write $target"
      expect_err "[$target]はパーティションです。" "write $target"
    done
    run --yes write "$lfs" 5A6B7C8D
    expect_rc 0 "write $lfs while mounted"
    [ "$(sfdisk --disk-id "$lfs")" = 0x5a6b7c8d ] || fail "write $lfs: sfdisk reads $(sfdisk --disk-id "$lfs")"
    [ "$(blkid -p -o value -s PTUUID "$lfs")" = 5a6b7c8d ] || fail "write $lfs: blkid disagrees"
    umount "$WORK/mnt" && mounted=""
    # The file system updates its own superblock; the first MiB is the disk's.
    head -c 1M "$WORK/fs.orig" >"$WORK/fs.head.orig"
    head -c 1M "$WORK/fs.img" >"$WORK/fs.head"
    expect_four_bytes "$WORK/fs.head.orig" "$WORK/fs.head" $((0x1B8)) "write $lfs while mounted"
  else
    echo "note: no mountable partition here; mount-point cases not run"
  fi
fi

finish
