#!/usr/bin/env bash
# Rewrites on image files of every container, checked by peers: sfdisk and
# blkid read the new signature, cmp shows exactly four bytes changed; the
# refusals leave the image as it was.
. "$(dirname "$0")/lib.sh"

for c in raw vhd hdi nhd; do
  for kind in at pc98; do
    img=$WORK/$kind.$c
    "$MKIMAGE" $kind "$img" --container $c
    cp --sparse=always "$img" "$img.before"
    old=$(field signature "$("$DISKTOOL" "$img" get)")
    out=$("$DISKTOOL" "$img" rewrite "$old" 0BADF00D)
    check "$kind/$c rewrite" 1 "$(field result "$out")"
    check "$kind/$c four bytes" 4 "$(changed "$img.before" "$img")"
    check "$kind/$c reads back" 0BADF00D "$(field signature "$("$DISKTOOL" "$img" get)")"
    if [ $kind = at ] && { [ $c = raw ] || [ $c = vhd ]; }; then
      check "$kind/$c sfdisk --disk-id" 0x0badf00d "$(sfdisk --disk-id "$img" 2>/dev/null)"
      check "$kind/$c blkid PTUUID" 0badf00d "$(blkid -p -o value -s PTUUID "$img")"
      check "$kind/$c sfdisk partitions" 6 "$(sfdisk -l "$img" 2>/dev/null | grep -c "^$img")"
    fi
  done
done

# Signature 0 is written like any other value, and can be written again.
"$MKIMAGE" at "$WORK/zero.img"
"$DISKTOOL" "$WORK/zero.img" rewrite 1234ABCD 0 >/dev/null
check "zero written" 0x00000000 "$(sfdisk --disk-id "$WORK/zero.img")"
check "zero is AT (score 3)" 1 "$(field format "$("$DISKTOOL" "$WORK/zero.img" get)")"

# Refused: nothing is written.
for kind in gpt nomark swapped neither short hdi-lying nhd-lying vhd-badsum; do
  img=$WORK/refused-$kind
  case $kind in hdi-*) img=$img.hdi ;; esac
  "$MKIMAGE" $kind "$img"
  cp --sparse=always "$img" "$img.before"
  out=$("$DISKTOOL" "$img" rewrite 1234ABCD 0BADF00D)
  check "$kind refused" 0 "$(field result "$out")"
  check "$kind unchanged" 0 "$(changed "$img.before" "$img")"
done
check "neither: unknown format" 0 "$(field format "$("$DISKTOOL" "$WORK/refused-neither" get)")"
check "gpt: layout query fails" 0 "$(field result "$("$DISKTOOL" "$WORK/refused-gpt" get)")"

finish
