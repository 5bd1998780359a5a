#!/usr/bin/env bash
# One Tab after `kormelde get ` with N other disks (loop devices over
# distinct images; the host's disks hidden): the words offered, the time of
# the completion function in a loaded shell (best of RUNS) and the disks it
# opens, beside `kormelde list`, which the completion used to run per Tab.
# usage: bench/completion.sh KORMELDE MKIMAGE [N] [RUNS]   (root)
. "$(dirname "$0")/lib.sh"
KORMELDE=$1
MKIMAGE=$2
N=${3:-32}
RUNS=${4:-5}
bench_start "$@"
[ -n "${BENCH_TRACE:-}" ] && set -x
others "$N"

# best SECONDS...: the smallest.
best() { printf '%s\n' "$@" | sort -g | head -n1; }
opens() { grep -c 'openat(.*"/dev/loop' "$1" || true; }

tab=$(bash -c '. /usr/share/bash-completion/bash_completion
  . "$1"
  COMP_WORDS=(kormelde get ""); COMP_CWORD=2; COMP_LINE="kormelde get "; COMP_POINT=${#COMP_LINE}
  for ((i = 0; i < $2; i++)); do
    start=$EPOCHREALTIME; _kormelde; end=$EPOCHREALTIME
    echo "$(echo "$end - $start" | bc)"
  done
  echo "words ${#COMPREPLY[@]}"' - "$BENCH_DIR/../completion/kormelde" "$RUNS")
list=()
for ((i = 0; i < RUNS; i++)); do
  start=$EPOCHREALTIME
  "$KORMELDE" list >/dev/null 2>&1
  end=$EPOCHREALTIME
  list+=("$(echo "$end - $start" | bc)")
done
strace -f -e trace=openat -o "$WORK/tab.trace" bash -c '. /usr/share/bash-completion/bash_completion
  . "$1"; COMP_WORDS=(kormelde get ""); COMP_CWORD=2; _kormelde; true' - "$BENCH_DIR/../completion/kormelde"
strace -f -e trace=openat -o "$WORK/list.trace" "$KORMELDE" list >/dev/null 2>&1 || true

echo "disks: $N; words offered: $(sed -n 's/^words //p' <<<"$tab") (a number and a path each)"
printf '%-16s %10s %12s\n' what seconds "disks opened"
printf '%-16s %10s %12s\n' "get <Tab>" "$(best $(grep -v '^words' <<<"$tab"))" "$(opens "$WORK/tab.trace")"
printf '%-16s %10s %12s\n' "kormelde list" "$(best "${list[@]}")" "$(opens "$WORK/list.trace")"
