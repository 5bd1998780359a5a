#!/usr/bin/env bash
# Maps the Win32 disk tests' images into a Wine prefix as
# \\.\PHYSICALDRIVE31..34 (dosdevices links), or removes them again.
#   map-images.sh map|unmap PREFIX IMAGE_DIR
# The images start sparse and empty; each test writes the bytes it needs.
set -eu
action=$1 prefix=$2 dir=$3
dev=$prefix/dosdevices
# number:file:size
images="31:at.img:8M 32:pc98.img:8M 33:big.img:5G 34:short.img:5220"
case $action in
map)
  # The arch of the prefix, from the test: skips without 32-bit Wine.
  . "$(dirname "$0")/../wine-arch.sh"
  [ -d "$dev" ] || {
    echo "map-images.sh: no prefix at $prefix" >&2
    exit 1
  }
  mkdir -p "$dir"
  for entry in $images; do
    IFS=: read -r n file size <<<"$entry"
    rm -f "$dir/$file"
    truncate -s "$size" "$dir/$file"
    ln -sfn "$dir/$file" "$dev/physicaldrive$n"
  done
  # The number the tests use for a disk that is not there.
  rm -f "$dev/physicaldrive39"
  ;;
unmap)
  for entry in $images; do
    IFS=: read -r n file size <<<"$entry"
    rm -f "$dev/physicaldrive$n" "$dir/$file"
  done
  ;;
*)
  echo "usage: map-images.sh map|unmap PREFIX IMAGE_DIR" >&2
  exit 2
  ;;
esac
