#!/usr/bin/env bash
# A write with each system call of the disk backend failing in turn (EIO),
# on image files and, where losetup works, on a loop device. Every run must
# exit 1 with a reason, claim no success, leave the disk as it was unless
# the data reached it before the failure (the final fsync), and leave no
# partial backup file. Prints the table of calls and outcomes.
#   faults_test.sh KORMELDE_FAULTS MKIMAGE WORKDIR
. "$(dirname "$0")/lib.sh"
NEW=5A6B7C8D
CALLS="open pread pwrite fsync flock ioctl"

# restore DISK ORIG: the disk's bytes back to ORIG, through the disk itself
# (a loop device's cache stays coherent).
restore() { dd if="$2" of="$1" bs=64k conv=notrunc,fsync status=none; }

# target NAME DISK ORIG HEADER: one clean write for the counts and the
# written bytes, then every call of it failing in turn.
target() {
  local name=$1 disk=$2 orig=$3 header=$4 bak=$WORK/$1.bak call n total changed backup reason
  restore "$disk" "$orig"
  rm -f "$bak"
  export KORMELDE_FAULT_PATHS=$disk:$bak
  KORMELDE_FAULT_COUNT=$WORK/counts run --yes --backup "$bak" write "$disk" $NEW
  expect_rc 0 "$name: clean write"
  head -c "$(stat -c %s "$orig")" "$disk" >"$WORK/$name.written"
  dd if="$orig" of="$WORK/$name.area" bs=512 skip=$((header / 512)) count=32 status=none
  for call in $CALLS; do
    total=$(awk -v c="$call" '$1 == c {print $2}' "$WORK/counts")
    for ((n = 1; n <= total; n++)); do
      restore "$disk" "$orig"
      rm -f "$bak"
      KORMELDE_FAULT=$call:$n run --yes --backup "$bak" write "$disk" $NEW
      what="$name $call #$n/$total"
      expect_rc 1 "$what"
      expect_no_out "$what"
      reason=$(sed -n 's/^理由: //p' "$WORK/err" | head -1)
      [ -n "$reason" ] || fail "$what: no reason given"
      if cmp -s -n "$(stat -c %s "$orig")" "$disk" "$orig"; then
        changed=no
      elif cmp -s -n "$(stat -c %s "$orig")" "$disk" "$WORK/$name.written" &&
        [ "$call" = fsync ] && [ "$n" = "$total" ]; then
        changed=written
      else
        changed=DAMAGED
        fail "$what: the disk changed"
      fi
      backup=none
      if [ -e "$bak" ]; then
        backup=whole
        cmp -s "$bak" "$WORK/$name.area" || {
          backup=PARTIAL
          fail "$what: partial backup file left"
        }
      fi
      printf '%-10s %-7s %3s %4s %-8s %-6s %s\n' "$name" "$call" "$n" "$rc" "$changed" "$backup" \
        "$reason"
    done
  done
}

printf '%-10s %-7s %3s %4s %-8s %-6s %s\n' disk call n exit disk backup reason
"$MKIMAGE" at "$WORK/at.img" && cp "$WORK/at.img" "$WORK/at.orig"
target at-raw "$WORK/at.img" "$WORK/at.orig" 0
"$MKIMAGE" pc98 "$WORK/pc98.hdi" --container hdi && cp "$WORK/pc98.hdi" "$WORK/pc98.orig"
target pc98-hdi "$WORK/pc98.hdi" "$WORK/pc98.orig" 4096

loop=""
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null; then
  "$MKIMAGE" at "$WORK/loop.img" && cp "$WORK/loop.img" "$WORK/loop.orig"
  loop=$(losetup -f --show "$WORK/loop.img" 2>/dev/null) || loop=""
fi
if [ -n "$loop" ]; then
  trap 'losetup -d "$loop"' EXIT
  target at-loop "$loop" "$WORK/loop.orig" 0
else
  echo "note: no loop device here; image files only"
fi

finish
