#!/usr/bin/env bash
# VM images through qemu-nbd:
#   1. get on a qcow2 against qemu-img dd reading its sector 0, run in
#      pairs (one of each, in turn), median wall and CPU time of each;
#   2. list over 50 qcow2 images, and their opening (each image's boot area
#      read through its own qemu-nbd) four at a time against one at a time.
# usage: bench/vm_images.sh KORMELDE DISKTOOL [RUNS]
#   KORMELDE, DISKTOOL: build/linux/kormelde, build/linux/tests/posix/disktool
# Needs qemu-utils, sfdisk and python3 (for wait4's CPU times).
set -euo pipefail
kormelde=$1
disktool=$2
runs=${3:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 64M "$work/base.raw"
printf 'label: dos\nlabel-id: 0x12345678\n,32M,7\n' | sfdisk -q "$work/base.raw"
qemu-img convert -O qcow2 "$work/base.raw" "$work/one.qcow2"
for i in $(seq -w 1 50); do cp "$work/one.qcow2" "$work/vm$i.qcow2"; done

# paired RUNS LABEL COMMAND LABEL COMMAND ...: the commands in turn, RUNS
# rounds; median wall and CPU (user + system, children included) in ms.
paired() {
  python3 - "$@" <<'PY'
import os, shlex, statistics, sys, time
runs = int(sys.argv[1])
pairs = [(sys.argv[i], sys.argv[i + 1]) for i in range(2, len(sys.argv), 2)]
wall = {l: [] for l, _ in pairs}
cpu = {l: [] for l, _ in pairs}
devnull = os.open(os.devnull, os.O_WRONLY)
for _ in range(runs):
    for label, command in pairs:
        start = time.perf_counter()
        pid = os.fork()
        if pid == 0:
            os.dup2(devnull, 1)
            os.dup2(devnull, 2)
            args = shlex.split(command)
            os.execvp(args[0], args)
        _, status, usage = os.wait4(pid, 0)
        wall[label].append((time.perf_counter() - start) * 1000)
        cpu[label].append((usage.ru_utime + usage.ru_stime) * 1000)
        if status != 0:
            sys.exit(f"{label}: exit status {status}")
print(f"{'command':34} {'wall ms':>8} {'CPU ms':>8}   (median of {runs})")
for label, _ in pairs:
    print(f"{label:34} {statistics.median(wall[label]):8.1f} {statistics.median(cpu[label]):8.1f}")
PY
}

echo "== get on a qcow2 against qemu-img dd of sector 0"
paired "$runs" \
  "kormelde get one.qcow2" "$kormelde get $work/one.qcow2" \
  "qemu-img dd (sector 0)" "qemu-img dd -f qcow2 -O raw if=$work/one.qcow2 of=$work/s0 bs=512 count=1"

echo "== 50 qcow2 images"
images=$(ls "$work"/vm*.qcow2 | tr '\n' ' ')
paired $((runs / 4 > 3 ? runs / 4 : 3)) \
  "kormelde list (50 images)" "$kormelde list $images" \
  "open 50, 4 at a time (disktool)" "$disktool - heads 4 $images" \
  "open 50, 1 at a time (disktool)" "$disktool - heads 1 $images"
