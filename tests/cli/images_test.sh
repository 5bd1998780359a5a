#!/usr/bin/env bash
# get, write, --no, a closed standard input and --backup on every container
# (raw, fixed VHD, HDI, NHD) holding either format.
. "$(dirname "$0")/lib.sh"

NEW=5A6B7C8D

# image KIND CONTAINER HEADER SIGNATURE-OFFSET OLD
image() {
  local kind=$1 container=$2 header=$3 at=$(($3 + $4)) old=$5 name=$1-$2
  local ext=${2/raw/img}
  local img=$WORK/$name.$ext orig=$WORK/$name.orig bak=$WORK/$name.bak n
  "$MKIMAGE" "$kind" "$img" --container "$container" || {
    fail "$name: mkimage"
    return
  }
  cp "$img" "$orig"

  run get "$img"
  expect_rc 0 "$name get"
  expect_out "$EXPECTED/$name.get" "$name get"

  run --no write "$img" $NEW
  expect_rc 1 "$name write --no"
  expect_err "$TXT_CANCELLED" "$name write --no"
  expect_no_out "$name write --no"
  expect_unchanged "$orig" "$img" "$name write --no"
  run write "$img" $NEW
  expect_rc 1 "$name write, standard input closed"
  expect_unchanged "$orig" "$img" "$name write, standard input closed"

  run --yes --backup "$bak" write "$img" $NEW
  expect_rc 0 "$name write --yes"
  n=$(bound_number)
  # The whole text, with the PARTUUIDs that changed on an AT disk.
  sed "s/= N\$/= $n/; s/OLD/$old/; s/NEW/$NEW/; s/old-/${old,,}-/; s/new-/${NEW,,}-/; s|BAK|$bak|g; s|IMG|$img|" \
    "$EXPECTED/write-success-$kind.out" >"$WORK/success"
  expect_out "$WORK/success" "$name write --yes"
  expect_four_bytes "$orig" "$img" $at "$name write --yes"
  # The backup is the boot area as it was: 32 sectors after the header.
  dd if="$orig" of="$WORK/area" bs=512 skip=$((header / 512)) count=32 status=none
  cmp -s "$WORK/area" "$bak" || fail "$name --backup: not the 16 KiB boot area read"

  run get "$img"
  expect_rc 0 "$name get after write"
  grep -qxF "$(printf 'NTSig\t= %s' $NEW)" "$WORK/out" || fail "$name get after write: $(head -1 "$WORK/out")"
  sed "1s/.*/NTSig\t= $old/" "$WORK/out" | cmp -s - "$EXPECTED/$name.get" ||
    fail "$name get after write: more than the signature changed"

  cp "$img" "$WORK/written"
  run --yes --backup "$bak" write "$img" 0
  expect_rc 1 "$name write, backup file exists"
  expect_err "バックアップファイル[$bak]は既に有ります。上書きはしません。" "$name backup exists"
  expect_unchanged "$WORK/written" "$img" "$name write, backup file exists"
  grep -q '注意事項' "$WORK/err" && fail "$name backup exists: asked before refusing"

  # The peers read the disk behind the header.
  if [ "$kind" = at ]; then
    dd if="$img" of="$WORK/data" bs=512 skip=$((header / 512)) status=none
    [ "$(sfdisk --disk-id "$WORK/data")" = "0x${NEW,,}" ] ||
      fail "$name: sfdisk --disk-id reads $(sfdisk --disk-id "$WORK/data")"
    [ "$(blkid -p -o value -s PTUUID "$WORK/data")" = "${NEW,,}" ] ||
      fail "$name: blkid reads $(blkid -p -o value -s PTUUID "$WORK/data")"
  fi
}

for container in raw vhd hdi nhd; do
  case $container in
  hdi) header=4096 ;;
  nhd) header=512 ;;
  *) header=0 ;;
  esac
  image at $container $header $((0x1B8)) 1234ABCD
  image pc98 $container $header $((0x2000)) 9821CAFE
done

# A 4096-byte-sector disk in an image file: --sector-size 4096 reads its
# table and the write changes the four bytes at 0x1B8 all the same.
"$MKIMAGE" at-4k "$WORK/4k.img" && cp "$WORK/4k.img" "$WORK/4k.orig"
run --sector-size 4096 get "$WORK/4k.img"
expect_rc 0 "at-4k get --sector-size 4096"
expect_out "$EXPECTED/at-4k.get" "at-4k get --sector-size 4096"
run --yes --sector-size=4096 write "$WORK/4k.img" $NEW
expect_rc 0 "at-4k write --sector-size 4096"
expect_four_bytes "$WORK/4k.orig" "$WORK/4k.img" $((0x1B8)) "at-4k write"
# Headers that record 512-byte sectors are not read otherwise.
run --sector-size 4096 get "$WORK/pc98-hdi.hdi"
expect_rc 1 "hdi get --sector-size 4096"
grep -q '^理由: --sector-size' "$WORK/err" || fail "hdi --sector-size 4096: no reason"

# A disk whose second primary entry is empty: the positions keep their gaps.
"$MKIMAGE" at-primary "$WORK/primary.img"
run get "$WORK/primary.img"
expect_rc 0 "at-primary get"
expect_out "$EXPECTED/at-primary-raw.get" "at-primary get"

finish
