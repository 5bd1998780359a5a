# Shared by the benches. Sourced by a bench run as root, after
#   bench_start "$@"   (re-runs the bench in a private mount namespace)
# Other disks are distinct small images (AT with logical partitions, AT
# with primaries, PC-9821, GPT; each its own signature) on loop devices.
# The programs see only those: a tmpfs over /sys/dev/block and /sys/block
# lists this run's loop devices alone, so the host's disks are never
# opened. Every loop device attached is detached on exit, INT or TERM.
set -euo pipefail
BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BENCH_MAX_LOOPS=140 # never more attached by one run
LOOPS=()
WORK=""

bench_cleanup() {
  local l
  trap - EXIT INT TERM
  for l in "${LOOPS[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  LOOPS=()
  [ -n "$WORK" ] && rm -rf "$WORK"
}

# bench_start "$@": checks the tools, enters a private mount namespace
# (the bench runs again there), makes WORK and the empty disk view.
bench_start() {
  if [ -z "${KORMELDE_BENCH_NS:-}" ]; then
    [ "$(id -u)" = 0 ] || {
      echo "needs root (loop devices, a private mount namespace)" >&2
      exit 2
    }
    for tool in losetup unshare strace python3 fdisk sfdisk blkid; do
      command -v "$tool" >/dev/null || {
        echo "needs $tool" >&2
        exit 2
      }
    done
    KORMELDE_BENCH_NS=1 exec unshare -m --propagation private bash "$0" "$@"
  fi
  trap bench_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  WORK=$(mktemp -d /tmp/kormelde-bench.XXXXXX)
  mount -t tmpfs kormelde-bench /sys/dev/block
  mount -t tmpfs kormelde-bench /sys/block
}

# view_add DEVICE: shows a loop device in the disk view.
view_add() {
  local name=${1#/dev/} hex
  hex=$(stat -c '%t %T' "$1")
  read -r ma mi <<<"$hex"
  ln -s "/sys/devices/virtual/block/$name" "/sys/dev/block/$((16#$ma)):$((16#$mi))"
  ln -s "/sys/devices/virtual/block/$name" "/sys/block/$name"
}

# attach IMAGE: attaches and shows IMAGE; prints the device. Refuses past
# BENCH_MAX_LOOPS.
attach() {
  local dev
  if [ "${#LOOPS[@]}" -ge "$BENCH_MAX_LOOPS" ]; then
    echo "refusing to attach more than $BENCH_MAX_LOOPS loop devices" >&2
    exit 1
  fi
  dev=$(losetup -f --show "$1")
  LOOPS+=("$dev")
  view_add "$dev"
  ATTACHED=$dev
}

# make_image N OUT: the Nth distinct image (kinds in turn, signature 7E57xxxx).
make_image() {
  local kinds=(at at-primary pc98 gpt)
  "$MKIMAGE" "${kinds[$(($1 % 4))]}" "$2" --sectors 8192 --sig "$(printf '7E57%04X' "$1")" >/dev/null
}

# others N: attaches N distinct other disks.
others() {
  local i
  for ((i = 0; i < $1; i++)); do
    make_image "$i" "$WORK/other$i.img"
    attach "$WORK/other$i.img"
  done
  echo "other disks: $1 loop devices over distinct images (at, at-primary, pc98, gpt)"
}

# pair ARGS...: bench/pair.py with the run's rounds.
pair() { python3 "$BENCH_DIR/pair.py" --rounds "$ROUNDS" "$@"; }

# calls LABEL COMMAND...: every system call of one run (strace -f -c), the
# opens under /sys, and the bytes read from each of this run's loop devices
# other than the command's own (the largest, and on how many disks).
calls() {
  local label=$1 total sys
  shift
  strace -f -qq -c -o "$WORK/calls" "$@" >/dev/null 2>&1 </dev/null || true
  total=$(awk '$NF == "total" {print $4}' "$WORK/calls")
  strace -f -qq -y -e trace=openat,read,pread64,readv,preadv -o "$WORK/trace" "$@" \
    >/dev/null 2>&1 </dev/null || true
  sys=$(grep -cE '^[0-9]+ +openat\(.*(= [0-9]+</sys/|"/sys/)' "$WORK/trace" || true)
  local l max=0 disks=0 b
  for l in "${LOOPS[@]}"; do
    [[ " $* " == *" $l "* ]] && continue
    b=$(grep -F "<$l>" "$WORK/trace" | grep -E '^[0-9]+ +p?readv?(64)?\(' |
      awk '$NF ~ /^[0-9]+$/ {b += $NF} END {print b + 0}' || true)
    [ "$b" -gt 0 ] && disks=$((disks + 1))
    [ "$b" -gt "$max" ] && max=$b
  done
  printf '%-16s %8s system calls, %4s opens under /sys, other disks read: %d (at most %d bytes each)\n' \
    "$label" "$total" "$sys" "$disks" "$max"
}
