#!/usr/bin/env bash
# Makes the sample disk images: samples/at.img (AT-compatible MBR, raw) and
# samples/pc98.hdi (PC-9821 IPL in an HDI container), 64 MiB each, sparse.
# usage: samples/make-samples.sh [MKIMAGE]   (default: build/linux/tests/tools/mkimage)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkimage=${1:-$here/../build/linux/tests/tools/mkimage}
if [ ! -x "$mkimage" ]; then
  echo "make-samples: no mkimage at $mkimage (build the linux preset first)" >&2
  exit 1
fi
rm -f "$here/at.img" "$here/pc98.hdi"
"$mkimage" at "$here/at.img" --sig 56FC78DE
"$mkimage" pc98 "$here/pc98.hdi" --container hdi --sig 9821CAFE
echo "$here/at.img"
echo "$here/pc98.hdi"
