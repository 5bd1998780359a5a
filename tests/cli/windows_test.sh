#!/usr/bin/env bash
# The Windows stores on a disk: references found and located, each refusal
# and warning, a logical partition, an EFI system partition, another disk;
# then the program: get, list --json, write with --windows and --linux,
# the bytes it changes, restore, a kill at each write.
#   windows_test.sh KORMELDE MKIMAGE WORKDIR MKHIVE NTFSMKDIR WINSCAN
MKHIVE=$4
NTFSMKDIR=$5
WINSCAN=$6
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/windows_lib.sh"
skip_without_windows_tools

SIG=12345678
IMG=$WORK/win.img
make_windows_disk "$IMG" $SIG
cp "$IMG" "$WORK/pristine.img"

# scan IMG OLD [NEW]: the finder's lines in $WORK/scan.
scan() {
  "$WINSCAN" "$@" >"$WORK/scan" 2>&1
  rc=$?
}
refs() { grep -c '^ref ' "$WORK/scan"; }
has_problem() { # has_problem KIND PARTITION WHAT
  grep -q "^problem $1 $2" "$WORK/scan" || {
    fail "$3: no problem $1 on partition $2"
    sed 's/^/  /' "$WORK/scan" >&2
  }
}

# BIOS layout: three stores, the boot manager on 1, loader on 2, C:/D: on
# 2 and on the logical 5; the resume object's offset names no partition.
scan "$IMG" $SIG
[ "$rc" = 0 ] && [ "$(refs)" = 10 ] || fail "BIOS layout: rc $rc, $(refs) references"
[ "$(grep -c 'updatable=1' "$WORK/scan")" = 9 ] || fail "BIOS layout: 9 updatable"
grep -q '^ref 5 .*\\DosDevices\\C: (C:) partition=5 located=1' "$WORK/scan" ||
  fail "logical partition: C: of the second Windows"
grep -q 'Resume Application" device partition=0 .* updatable=0' "$WORK/scan" ||
  fail "an offset with no partition is not updatable"
# Every located offset holds the signature on the disk itself.
for off in $(sed -n 's/.* offset=\([0-9]*\) .*/\1/p' "$WORK/scan"); do
  [ "$(od -An -tx4 -j "$off" -N4 "$IMG" | tr -d ' ')" = $SIG ] || fail "offset $off"
done
# The letter E: names another disk's signature.
scan "$IMG" 0badcafe
[ "$(grep -c '^ref .*(E:)' "$WORK/scan")" = 2 ] || fail "another signature: the E: values"

# Refusals, one store or volume spoilt at a time.
hive_patch() { # hive_patch HIVE OFFSET HEX: bytes into a hive's base block
  printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp "$IMG.sys2" "$WORK/dirty"
hive_patch "$WORK/dirty" 8 '\x07'
put "$IMG.p2" "$WORK/dirty" /Windows/System32/config/SYSTEM
place_volumes "$IMG"
scan "$IMG" $SIG
[ "$rc" = 1 ] || fail "dirty hive: refused"
has_problem 0 2 "dirty hive"

cp "$IMG.sys2" "$WORK/sum"
hive_patch "$WORK/sum" 48 '\x41'
put "$IMG.p2" "$WORK/sum" /Windows/System32/config/SYSTEM
place_volumes "$IMG"
scan "$IMG" $SIG
has_problem 1 2 "checksum"
put "$IMG.p2" "$IMG.sys2" /Windows/System32/config/SYSTEM

# Windows resumed (wake) is no refusal; hibernated (hibr) is.
printf 'wake' >"$WORK/hiberfil"
truncate -s 8192 "$WORK/hiberfil"
put "$IMG.p2" "$WORK/hiberfil" /hiberfil.sys
place_volumes "$IMG"
scan "$IMG" $SIG
[ "$rc" = 0 ] || fail "a resumed hiberfil.sys is no refusal"
cp "$IMG.p2" "$WORK/hibernated"
printf 'hibr' >"$WORK/hiberfil"
truncate -s 8192 "$WORK/hiberfil"
put "$WORK/hibernated" "$WORK/hiberfil" /hiberfil.sys
dd if="$WORK/hibernated" of="$IMG" bs=512 seek=18432 conv=notrunc status=none
scan "$IMG" $SIG
has_problem 2 2 "hibernated"

"$NTFSMKDIR" "$IMG.p5" --dirty Windows
place_volumes "$IMG"
scan "$IMG" $SIG
has_problem 3 5 "unclean volume"

# A sparse or compressed hive has no plain place on the disk for each field.
cp "$IMG.sys2" "$WORK/sparse.hive"
truncate -s +65536 "$WORK/sparse.hive"
for kind in sparse compressed; do
  ntfs_volume "$WORK/$kind.vol" 18432 49152 Windows/System32/config
  # (LeakSanitizer reports memory libntfs-3g allocates on this path.)
  ASAN_OPTIONS=detect_leaks=0 "$NTFSMKDIR" "$WORK/$kind.vol" --$kind "$WORK/sparse.hive" \
    /Windows/System32/config/SYSTEM || fail "$kind hive"
  cp "$WORK/pristine.img" "$IMG"
  dd if="$WORK/$kind.vol" of="$IMG" bs=512 seek=18432 conv=notrunc status=none
  scan "$IMG" $SIG
  has_problem 4 2 "$kind hive"
done

cp "$WORK/pristine.img" "$IMG"
scan "$IMG" $SIG 0badcafe
has_problem 5 2 "new signature already named"

# Warnings: BitLocker (nothing inside read), a dynamic disk.
printf -- '-FVE-FS-' | dd of="$IMG" bs=1 seek=$((P5 + 3)) conv=notrunc status=none
scan "$IMG" $SIG
[ "$rc" = 0 ] && [ "$(refs)" = 7 ] || fail "BitLocker: rc $rc, $(refs) references"
has_problem 6 5 "BitLocker"
cp "$WORK/pristine.img" "$IMG"
printf '\x42' | dd of="$IMG" bs=1 seek=$((0x1be + 16 + 4)) conv=notrunc status=none
scan "$IMG" $SIG
has_problem 7 2 "dynamic disk"

# An EFI system partition (UEFI boot of an MBR disk): the store read
# through mtools, a fragmented file placed by its cluster list, and written.
if needs mformat; then
  cp "$WORK/pristine.img" "$IMG"
  printf '\xef' | dd of="$IMG" bs=1 seek=$((0x1be + 4)) conv=notrunc status=none
  export MTOOLS_SKIP_CHECK=1
  esp=$IMG@@$P1
  mformat -i "$esp" -T 16384 -h 255 -s 63 -H 2048 :: &&
    mmd -i "$esp" ::/EFI ::/EFI/Microsoft ::/EFI/Microsoft/Boot &&
    head -c 4096 "$IMG.bcd" >"$WORK/small" && mcopy -i "$esp" "$WORK/small" ::/EFI/a &&
    mcopy -i "$esp" "$IMG.bcd" ::/EFI/b &&
    mdel -i "$esp" ::/EFI/a &&
    mcopy -i "$esp" "$IMG.bcd" ::/EFI/Microsoft/Boot/BCD || fail "EFI partition"
  mshowfat -i "$esp" ::/EFI/Microsoft/Boot/BCD | grep -q '> <' || fail "EFI: the store is not fragmented"
  scan "$IMG" $SIG
  [ "$(grep -c '^ref 1 \\EFI\\Microsoft\\Boot\\BCD .* located=1 .* updatable=1' "$WORK/scan")" = 3 ] ||
    fail "EFI: three references located"
  cp "$IMG" "$WORK/efi.img"
  LC_ALL=C run -y --windows=update write "$IMG" cafef00d
  expect_rc 0 "EFI: update"
  mtype -i "$esp" ::/EFI/Microsoft/Boot/BCD >"$WORK/efi.bcd"
  v=$(hivexget "$WORK/efi.bcd" '\Objects\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\Elements\11000001' Element |
    od -An -tx1 | tr -d ' \n')
  [ "${v:112:8}" = 0df0feca ] || fail "EFI: the boot manager's device: $v"
  changed=$(cmp -l "$WORK/efi.img" "$IMG" | wc -l)
  [ "$changed" = $((4 * (1 + 3 + 6))) ] || fail "EFI: $changed bytes changed"
else
  echo "SKIP: mtools is not installed: EFI system partition not tested"
fi

# The program (its English texts). get counts the references; --json
# lists each.
export LC_ALL=C
NEW=cafef00d
cp "$WORK/pristine.img" "$IMG"
run get "$IMG"
grep -qx "Places in the Windows stores that name \[$SIG\]: 10" "$WORK/out" || fail "get: count"
run --json get "$IMG"
python3 - "$WORK/out" <<'PY' || fail "get --json: the references"
import json, sys
d = json.load(open(sys.argv[1]))
refs = d["windows"]
assert d["windows_references"] == 10 and len(refs) == 10
assert sum(r["updatable"] for r in refs) == 9
assert {r["volume"] for r in refs if "volume" in r} >= {"C:", "D:"}
PY
run --json list "$IMG"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert [x["windows_references"] for x in d["disks"] if x["device"]==sys.argv[2]]==[10]' \
  "$WORK/out" "$IMG" || fail "list --json: the count"

# --yes alone does not answer the second question: a script must choose.
run -y write "$IMG" $NEW
expect_rc 1 "--yes alone"
grep -qF -- '--windows=update|leave' "$WORK/err" || fail "--yes alone: the options named"
expect_unchanged "$WORK/pristine.img" "$IMG" "--yes alone"

# leave: the signature only.
run -y --windows=leave write "$IMG" $NEW
expect_rc 0 "leave"
expect_four_bytes "$WORK/pristine.img" "$IMG" $((0x1B8)) "leave"

# update: 4 x (1 + 9) bytes, each store read back by hivexget.
cp "$WORK/pristine.img" "$IMG"
rm -f "$WORK/backup"
run -y --json --windows=update --backup="$WORK/backup" write "$IMG" $NEW
expect_rc 0 "update"
python3 -c 'import json,sys; assert json.load(open(sys.argv[1]))["windows_updated"] == 9' \
  "$WORK/out" || fail "update: write --json counts the references updated"
changed=$(cmp -l "$WORK/pristine.img" "$IMG" | wc -l)
[ "$changed" = 40 ] || fail "update: $changed bytes changed, expected 40"
new_le=$(le32_hex $NEW | tr -d ,)
old_le=$(le32_hex $SIG | tr -d ,)
for key in 9dea862c-5cdd-4e70-acc1-f32b344d4795 2b0b5a4e-1f3c-11e0-8f1b-806e6f6e6963; do
  v=$(hive_value "$IMG" 1 /Boot/BCD "\\Objects\\{$key}\\Elements\\11000001" Element)
  [ "${v:112:8}" = "$new_le" ] || fail "update: BCD $key device: $v"
done
v=$(hive_value "$IMG" 1 /Boot/BCD '\Objects\{2b0b5a4f-1f3c-11e0-8f1b-806e6f6e6963}\Elements\11000001' Element)
[ "${v:112:8}" = "$old_le" ] || fail "update: the resume device names no partition: kept"
for part in 2 5; do
  path=/Windows/System32/config/SYSTEM
  [ $part = 5 ] && path=/WINDOWS/system32/CONFIG/system
  for name in '\DosDevices\C:' '\DosDevices\D:' '\??\Volume{6e1d0a2c-0000-0000-0000-100000000000}'; do
    v=$(hive_value "$IMG" $part $path '\MountedDevices' "$name")
    [ "${v:0:8}" = "$new_le" ] || fail "update: partition $part $name: $v"
  done
done
# restore undoes all of it, byte for byte, and again changes nothing.
run -y restore "$IMG" "$WORK/backup"
expect_rc 0 "restore"
expect_unchanged "$WORK/pristine.img" "$IMG" "restore"
run -y restore "$IMG" "$WORK/backup"
expect_rc 0 "restore again"
expect_unchanged "$WORK/pristine.img" "$IMG" "restore again"

# A refusal when updating: nothing written.
cp "$WORK/pristine.img" "$IMG"
cp "$IMG.p2" "$WORK/dirty.vol"
put "$WORK/dirty.vol" "$WORK/dirty" /Windows/System32/config/SYSTEM
dd if="$WORK/dirty.vol" of="$IMG" bs=512 seek=18432 conv=notrunc status=none
cp "$IMG" "$WORK/dirty.img"
run -y --windows=update write "$IMG" $NEW
expect_rc 1 "update a dirty hive"
expect_unchanged "$WORK/dirty.img" "$IMG" "update a dirty hive"

# Killed at each write (backup, patches, signature): the disk is as it was,
# or the backup's restore brings it back; a restore killed at each of its
# writes is completed by running it again.
killed() { # killed N ARGS...: the program killed at its Nth pwrite
  { (strace -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=KILL:when=$1 \
    "$K" "${@:2}" </dev/null >/dev/null); } 2>/dev/null
}
if needs strace; then
  for when in $(seq 1 12); do
    cp "$WORK/pristine.img" "$IMG"
    rm -f "$WORK/backup"
    killed $when -y -q --windows=update --backup="$WORK/backup" write "$IMG" $NEW
    cmp -s "$WORK/pristine.img" "$IMG" && continue
    run -y restore "$IMG" "$WORK/backup"
    cmp -s "$WORK/pristine.img" "$IMG" || fail "killed at write $when: restore did not complete"
  done
  cp "$WORK/pristine.img" "$IMG"
  rm -f "$WORK/backup"
  run -y --windows=update --backup="$WORK/backup" write "$IMG" $NEW
  cp "$IMG" "$WORK/updated.img"
  for when in $(seq 1 10); do
    cp "$WORK/updated.img" "$IMG"
    killed $when -y -q restore "$IMG" "$WORK/backup"
    run -y restore "$IMG" "$WORK/backup"
    cmp -s "$WORK/pristine.img" "$IMG" || fail "restore killed at write $when: not completed"
  done
else
  echo "SKIP: strace is not installed: kills not tested"
fi

# The Linux lines: only the PARTUUID tokens change, the old file goes into
# the backup; the clone's disk is named.
root=$WORK/root
mkdir -p "$root/etc"
printf 'PARTUUID=%s-02 / ext4 defaults 0 1\n# PARTUUID=%s-05 kept\n' $SIG $SIG >"$root/etc/fstab"
cp "$root/etc/fstab" "$WORK/fstab.before"
cp "$WORK/pristine.img" "$IMG"
cp "$WORK/pristine.img" "$WORK/clone.img"
rm -f "$WORK/backup"
run -y --windows=leave --root="$root" write "$IMG" $NEW
expect_rc 0 "--linux not given: left"
cmp -s "$WORK/fstab.before" "$root/etc/fstab" || fail "--linux not given: fstab changed"
cp "$WORK/pristine.img" "$IMG"
run -y --windows=leave --linux=update --root="$root" --backup="$WORK/backup" write "$IMG" $NEW \
  "$WORK/clone.img"
expect_rc 0 "--linux=update"
printf 'PARTUUID=%s-02 / ext4 defaults 0 1\n# PARTUUID=%s-05 kept\n' $NEW $SIG | cmp -s - "$root/etc/fstab" ||
  fail "--linux=update: $(cat "$root/etc/fstab")"
grep -q "would name the partitions of disk #[0-9]* $WORK/clone.img" "$WORK/err" ||
  fail "the clone named in the question"
grep -q "^Disk #[0-9]* $WORK/clone.img: 10 places in its Windows stores name \[$SIG\] too" \
  "$WORK/err" || fail "the clone's own stores listed"
# A file edited since the write is left as it is; one that is not, put back.
cp "$root/etc/fstab" "$WORK/fstab.written"
echo '# edited' >>"$root/etc/fstab"
cp "$root/etc/fstab" "$WORK/fstab.edited"
run -y --dry-run restore "$IMG" "$WORK/backup"
grep -q "fstab\] was changed after the write" "$WORK/err" || fail "restore: an edited file named"
cmp -s "$WORK/fstab.edited" "$root/etc/fstab" || fail "restore: an edited file left"
cp "$WORK/fstab.written" "$root/etc/fstab"
run -y restore "$IMG" "$WORK/backup"
cmp -s "$WORK/fstab.before" "$root/etc/fstab" || fail "restore: fstab"
expect_unchanged "$WORK/pristine.img" "$IMG" "restore after --linux"

# 4096-byte sectors: the tables count them, the stores are found and written.
k4=$WORK/4k.img
truncate -s 64M "$k4"
python3 - "$k4" <<'PY'
import struct, sys
mbr = bytearray(512)
struct.pack_into("<I", mbr, 0x1B8, 0x12345678)
mbr[0x1BE + 4] = 7
struct.pack_into("<II", mbr, 0x1BE + 8, 256, 4096)
mbr[510:512] = b"\x55\xaa"
with open(sys.argv[1], "r+b") as f:
    f.write(mbr)
PY
truncate -s 16M "$k4.p1"
mkntfs -F -Q -q -s 4096 -p 256 -H 255 -S 63 "$k4.p1" >/dev/null 2>&1 &&
  "$NTFSMKDIR" "$k4.p1" Windows/System32/config || fail "4096: volume"
make_hive "$k4.sys" "$(system_reg $SIG 1048576 1048576)"
put "$k4.p1" "$k4.sys" /Windows/System32/config/SYSTEM
dd if="$k4.p1" of="$k4" bs=1M seek=1 conv=notrunc status=none
cp "$k4" "$WORK/4k.before"
run -y --sector-size=4096 --windows=update write "$k4" $NEW
expect_rc 0 "4096: update"
# C:, D: and the volume name: partition 1, at 1 MiB (sector 256).
changed=$(cmp -l "$WORK/4k.before" "$k4" | wc -l)
[ "$changed" = 16 ] || fail "4096: $changed bytes changed, expected 16"

# On a loop device: a store on a partition something holds (mounted) is
# not updated; free, the same write changes the same 40 bytes.
loop=""
holder=""
at_exit '[ -n "$holder" ] && kill "$holder" && wait "$holder"'
cp "$WORK/pristine.img" "$IMG"
if can_loop && attach -P "$IMG" 2>/dev/null &&
  udevadm settle 2>/dev/null; [ -n "$loop" ] && [ -b "${loop}p2" ]; then
  python3 -c 'import os,sys,time
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_EXCL)
open(sys.argv[2], "w").close()
time.sleep(60)' "${loop}p2" "$WORK/held" &
  holder=$!
  for _ in $(seq 50); do [ -e "$WORK/held" ] && break; sleep 0.1; done
  run -y --windows=update write "$loop" $NEW
  expect_rc 1 "update on a partition in use"
  grep -q "partition 2: in use" "$WORK/err" || fail "update on a partition in use: the reason"
  expect_unchanged "$WORK/pristine.img" "$IMG" "update on a partition in use"
  kill "$holder"
  wait "$holder" 2>/dev/null
  holder=""
  run -y --windows=update write "$loop" $NEW
  expect_rc 0 "update on a loop device"
  changed=$(cmp -l "$WORK/pristine.img" "$IMG" | wc -l)
  [ "$changed" = 40 ] || fail "update on a loop device: $changed bytes changed, expected 40"
else
  echo "SKIP: no loop device with partitions here: the loop device case not tested"
fi
finish
