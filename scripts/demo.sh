#!/usr/bin/env bash
# The main job end to end: installs what is missing, builds the Linux
# program, makes the two sample images and shows both Get reports.
# BUILD selects the build directory (default: build/linux).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/linux}
"$root/scripts/setup.sh" linux || exit 1
cmake --preset linux -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target kormelde mkimage >/dev/null
"$root/samples/make-samples.sh" "$build/tests/tools/mkimage" >/dev/null
for image in "$root/samples/at.img" "$root/samples/pc98.hdi"; do
  echo "\$ kormelde get samples/$(basename "$image")"
  "$build/kormelde" get "$image"
  echo
done
