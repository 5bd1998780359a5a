#!/usr/bin/env bash
# `write` on a 1 GiB image with two NTFS partitions (a boot store on the
# first, a SYSTEM hive on the second) with --windows=update beside the same
# write with --windows=leave: interleaved pairs, each write undone by the
# program's own restore between runs (untimed). Wall and CPU (user+system)
# time of the whole process, medians; then the system calls of one run each.
# usage: bench/windows_write.sh KORMELDE NTFSMKDIR [RUNS]   (RUNS default 11)
set -euo pipefail
K=$1
NTFSMKDIR=$2
runs=${3:-11}
here=$(cd "$(dirname "$0")/.." && pwd)
MKHIVE=$here/tests/tools/mkhive.py
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "bench: $*" >&2; exit 1; }
. "$here/tests/cli/windows_lib.sh"
export LC_ALL=C

SIG=12345678
NEW=cafef00d
img=$WORK/disk.img
truncate -s 1G "$img"
sfdisk -q "$img" <<TABLE >/dev/null
label: dos
label-id: 0x$SIG
start=2048, size=1024000, type=7, bootable
start=1026048, size=1071104, type=7
TABLE
make_hive "$WORK/bcd" "$(bcd_reg $SIG $((2048 * 512)) $((1026048 * 512)))"
make_hive "$WORK/system" "$(system_reg $SIG $((1026048 * 512)) $((2048 * 512)))"
ntfs_volume "$WORK/p1" 2048 1024000 Boot
put "$WORK/p1" "$WORK/bcd" /Boot/BCD
ntfs_volume "$WORK/p2" 1026048 1071104 Windows/System32/config
put "$WORK/p2" "$WORK/system" /Windows/System32/config/SYSTEM
dd if="$WORK/p1" of="$img" bs=1M seek=1 conv=notrunc,sparse status=none
dd if="$WORK/p2" of="$img" bs=512 seek=1026048 conv=notrunc,sparse status=none
rm -f "$WORK/p1" "$WORK/p2"
cp --sparse=always "$img" "$WORK/pristine.img"

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
TIMEFORMAT='%3R %3U %3S'
one() { # one MODE: times of one write (ms wall, ms cpu), then its undo
  local t
  rm -f "$WORK/bk"
  t=$({ time "$K" -y -q --windows="$1" --backup="$WORK/bk" write "$img" $NEW \
    >/dev/null 2>&1 </dev/null; } 2>&1)
  "$K" -y -q restore "$img" "$WORK/bk" >/dev/null 2>&1 </dev/null || fail "restore after $1"
  awk '{printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000}' <<<"$t"
}
one update >/dev/null # warm the page cache and the loader
for ((r = 0; r < runs; r++)); do
  one update >>"$WORK/update"
  one leave >>"$WORK/leave"
done
cmp -s "$img" "$WORK/pristine.img" || fail "the image did not come back"
declare -A bytes
printf '%-8s %12s %12s %10s\n' mode wall_ms_med cpu_ms_med syscalls
for mode in update leave; do
  rm -f "$WORK/bk"
  calls=$(strace -f -qq -c -o /dev/stdout "$K" -y -q --windows=$mode --backup="$WORK/bk" \
    write "$img" $NEW 2>/dev/null </dev/null | awk '$NF == "total" {print $4}')
  bytes[$mode]=$( (cmp -l "$img" "$WORK/pristine.img" || true) | wc -l)
  "$K" -y -q restore "$img" "$WORK/bk" >/dev/null 2>&1 </dev/null
  printf '%-8s %12s %12s %10s\n' $mode "$(cut -d' ' -f1 "$WORK/$mode" | median)" \
    "$(cut -d' ' -f2 "$WORK/$mode" | median)" "$calls"
done
echo "($runs interleaved pairs; bytes changed: update ${bytes[update]}, leave ${bytes[leave]})"
