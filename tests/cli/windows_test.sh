#!/usr/bin/env bash
# The Windows stores on a disk: references found and located, each refusal
# and warning, a logical partition, an EFI system partition, another disk.
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

# An EFI system partition is read through mtools; its references have no
# known place on the disk and are not changed.
if command -v mformat >/dev/null; then
  cp "$WORK/pristine.img" "$IMG"
  printf '\xef' | dd of="$IMG" bs=1 seek=$((0x1be + 4)) conv=notrunc status=none
  export MTOOLS_SKIP_CHECK=1
  mformat -i "$IMG@@$P1" -T 16384 -h 255 -s 63 -H 2048 :: &&
    mmd -i "$IMG@@$P1" ::/EFI ::/EFI/Microsoft ::/EFI/Microsoft/Boot &&
    mcopy -i "$IMG@@$P1" "$IMG.bcd" ::/EFI/Microsoft/Boot/BCD || fail "EFI partition"
  scan "$IMG" $SIG
  grep -q '^ref 1 \\EFI\\Microsoft\\Boot\\BCD .* located=0 .* updatable=0' "$WORK/scan" ||
    fail "EFI: references reported, not updatable"
else
  echo "SKIP: mtools is not installed: EFI system partition not tested"
fi
finish
