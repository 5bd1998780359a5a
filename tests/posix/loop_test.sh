#!/usr/bin/env bash
# The backend on loop devices with 512- and 4096-byte sectors: rewrites
# checked by sfdisk and cmp, the sweep counted in the device's stat (also
# while another process holds the device open), a 4096-byte-sector MBR
# decoded in its own units, and a rewrite while a partition stays mounted.
. "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || skip "loop devices need root"
command -v losetup >/dev/null || skip "losetup not installed"

attach() { # attach IMAGE SECTOR-SIZE [-P]: sets dev
  dev=$(losetup --show -f --sector-size "$2" ${3:-} "$1" 2>&1) || skip "losetup failed: $dev"
  CLEANUPS+=("losetup -d $dev")
}

reads() { awk '{print $1}' "/sys/block/$(basename "$1")/stat"; }

for ss in 512 4096; do
  img=$WORK/at$ss.img
  "$MKIMAGE" at "$img"
  attach "$img" $ss
  check "$ss: logical sector size" $ss "$(blockdev --getss "$dev")"
  cp --sparse=always "$img" "$WORK/before.img"

  out=$("$DISKTOOL" "$dev" get)
  check "$ss: signature" 1234ABCD "$(field signature "$out")"
  check "$ss: bytes per sector" $ss "$(field geometry "$out" | cut -d/ -f4)"
  out=$("$DISKTOOL" "$dev" rewrite 1234ABCD 0BADF00D)
  check "$ss: rewrite" 1 "$(field result "$out")"
  check "$ss: sfdisk --disk-id" 0x0badf00d "$(sfdisk --disk-id "$dev" 2>/dev/null)"
  check "$ss: four bytes changed" 4 "$(changed "$WORK/before.img" "$dev")"

  before=$(reads "$dev")
  "$DISKTOOL" "$dev" access >/dev/null
  check "$ss: sweep reads" 200 $(($(reads "$dev") - before))
  sleep 30 <"$dev" &
  holder=$!
  CLEANUPS+=("kill $holder")
  "$DISKTOOL" "$dev" access >/dev/null # warms the page cache if buffered
  before=$(reads "$dev")
  "$DISKTOOL" "$dev" access >/dev/null
  check "$ss: sweep reads while held open" 200 $(($(reads "$dev") - before))
  kill $holder
  wait $holder 2>/dev/null
done

# An MBR written in 4096-byte units by sfdisk: lengths in true bytes.
img=$WORK/native4k.img
truncate -s 64M "$img"
attach "$img" 4096
printf 'label: dos\nlabel-id: 0x44332211\n,4MiB,83\n,,E\n,8MiB,83\n,8MiB,83\n' | sfdisk -q --no-reread "$dev" 2>/dev/null
out=$("$DISKTOOL" "$dev" get)
check "4k: signature" 44332211 "$(field signature "$out")"
sizes=$(sfdisk -d "$dev" | sed -n 's/.*size= *\([0-9]*\).*/\1/p' | tr '\n' ' ')
set -- $sizes
check "4k: primary length" $(($1 * 4096)) "$(field length0 "$out")"
check "4k: extended length" $(($2 * 4096)) "$(field length1 "$out")"
check "4k: first logical length" $(($3 * 4096)) "$(field length4 "$out")"
check "4k: second logical length" $(($4 * 4096)) "$(field length8 "$out")"

# A mounted partition: the disk is found from the mount point, and its
# signature is rewritten while the file system stays mounted.
command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 not installed"
img=$WORK/mounted.img
"$MKIMAGE" at "$img"
attach "$img" 512 -P
part=${dev}p5
[ -b "$part" ] || partx -a "$dev" 2>/dev/null
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -b "$part" ] && break; sleep 0.2; done
if [ ! -b "$part" ] && [ -e "/sys/block/$(basename "$dev")/$(basename "$part")/dev" ]; then
  IFS=: read -r maj min <"/sys/block/$(basename "$dev")/$(basename "$part")/dev"
  mknod "$part" b "$maj" "$min" && CLEANUPS+=("rm -f $part")
fi
[ -b "$part" ] || skip "no partition device for $dev"
mkfs.ext4 -q "$part" || skip "mkfs.ext4 failed"
mkdir "$WORK/mnt"
mount "$part" "$WORK/mnt" || skip "mount failed"
CLEANUPS+=("umount $WORK/mnt")
echo data >"$WORK/mnt/file"
out=$("$DISKTOOL" "$WORK/mnt" classify)
check "mount point is a partition" partition "$(field kind "$out")"
check "mount point's disk" "$dev" "$(field disk "$out")"
check "partition's disk" "$dev" "$(field disk "$("$DISKTOOL" "$part" classify)")"
check "whole disk" whole-disk "$(field kind "$("$DISKTOOL" "$dev" classify)")"
dd if="$dev" of="$WORK/boot.before" bs=1M count=1 status=none
out=$("$DISKTOOL" "$dev" rewrite 1234ABCD 0BADF00D)
check "rewrite while mounted" 1 "$(field result "$out")"
check "mounted: sfdisk --disk-id" 0x0badf00d "$(sfdisk --disk-id "$dev" 2>/dev/null)"
check "mounted: four bytes changed" 4 "$(changed "$WORK/boot.before" "$dev" 1048576)"
check "still mounted" data "$(cat "$WORK/mnt/file")"
out=$("$DISKTOOL" "$dev" get)
check "listed in the table" 1 "$(field result "$out")"
finish
