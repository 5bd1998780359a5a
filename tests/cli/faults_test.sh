#!/usr/bin/env bash
# A write with each system call of the disk backend failing in turn (EIO),
# on image files and, where losetup works, on a loop device. Every run must
# exit 1 with a reason, claim no success, leave the disk as it was (a
# failed write is put back) and leave no partial backup file. Then the
# disk's own write failing part-way, every time, and both: the disk after
# and what the program says it holds. Prints the table of calls and outcomes.
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
  # The disk's own write is the last pwrite and fsync of a clean run.
  local pwrites fsyncs
  pwrites=$(awk '$1 == "pwrite" {print $2}' "$WORK/counts")
  fsyncs=$(awk '$1 == "fsync" {print $2}' "$WORK/counts")
  held fsync:$fsyncs "$TXT_UNDONE" "$orig"
  held pwrite:$pwrites/2 "$TXT_UNDONE" "$orig"
  held pwrite:$pwrites+ "$TXT_UNDONE" "$orig"
  # Said written, not written: only the read-back tells.
  held pwrite:$pwrites/0 "$TXT_UNDONE" "$orig"
  # Half the signature written, then no write at all: the disk is torn and
  # the program says so.
  local torn=$WORK/$name.torn at=$((header + sigat))
  cp "$orig" "$torn"
  dd if="$WORK/$name.written" of="$torn" bs=1 skip=$at seek=$at count=2 conv=notrunc status=none
  held pwrite:$pwrites/2+ "$TXT_TORN" "$torn"
}

# held FAULT TEXT IMAGE: with FAULT, the write exits 1 with reason TEXT and
# the backup's place, and the disk holds IMAGE.
held() {
  restore "$disk" "$orig"
  rm -f "$bak"
  KORMELDE_FAULT=$1 run --yes --backup "$bak" write "$disk" $NEW
  expect_rc 1 "$name $1"
  expect_err "理由: $2" "$name $1"
  expect_err "書き込む前のブート領域はバックアップファイル[$bak]に有ります。" "$name $1"
  cmp -s -n "$(stat -c %s "$orig")" "$disk" "$3" || fail "$name $1: the disk holds other bytes"
  printf '%-10s %-12s %4s %s\n' "$name" "$1" "$rc" "$2"
}
TXT_UNDONE="書き込みに失敗しました。ディスクは元のままです(旧いＮＴシグニチャ。何も変わっていません)。"
TXT_TORN="書き込みに失敗し、元に戻せませんでした。ディスクのＮＴシグニチャは旧い値でも新しい値でもありません(一部だけ書き換わっています)。"

printf '%-10s %-7s %3s %4s %-8s %-6s %s\n' disk call n exit disk backup reason
"$MKIMAGE" at "$WORK/at.img" && cp "$WORK/at.img" "$WORK/at.orig"
sigat=$((0x1B8))
target at-raw "$WORK/at.img" "$WORK/at.orig" 0
"$MKIMAGE" pc98 "$WORK/pc98.hdi" --container hdi && cp "$WORK/pc98.hdi" "$WORK/pc98.orig"
sigat=$((0x2000))
target pc98-hdi "$WORK/pc98.hdi" "$WORK/pc98.orig" 4096

# The name given another file after the writer opened and locked the disk,
# just before the write: the check on the very descriptor written refuses.
"$MKIMAGE" at "$WORK/clone.img" --sig 11111111
cp "$WORK/at.orig" "$WORK/swap.img"
KORMELDE_FAULT_PATHS=$WORK/swap.img KORMELDE_FAULT_RUN="flock:1:mv '$WORK/swap.img' '$WORK/moved.img' && cp '$WORK/clone.img' '$WORK/swap.img'" \
  run --yes write "$WORK/swap.img" $NEW
expect_rc 1 "name replaced before the write"
expect_err "理由: 指定した名前が最初に確認したディスクとは別のディスクを指しています(ディスクの抜き差し等)。何も書き込んでいません。" \
  "name replaced before the write"
cmp -s "$WORK/moved.img" "$WORK/at.orig" && cmp -s "$WORK/swap.img" "$WORK/clone.img" ||
  fail "name replaced before the write: a disk changed"

# The backup file's own failure is named with the system's reason.
bak=$WORK/eio.bak
rm -f "$bak"
KORMELDE_FAULT_PATHS=$bak KORMELDE_FAULT=fsync:1 run --yes --backup "$bak" write "$WORK/at.img" $NEW
expect_err "理由: バックアップファイル[$bak]を作れません: 入力/出力エラーです" "backup fsync EIO"

loop=""
if needs loop; then
  "$MKIMAGE" at "$WORK/loop.img" && cp "$WORK/loop.img" "$WORK/loop.orig"
  attach "$WORK/loop.img" 2>/dev/null || loop=""
fi
if [ -n "$loop" ]; then
  sigat=$((0x1B8))
  target at-loop "$loop" "$WORK/loop.orig" 0
else
  echo "note: no loop device here; image files only"
fi

# The same through the kernel's own calls on an image file (strace injects
# the failure): the data really reaches the page cache before a failed fsync.
if needs strace; then
  "$MKIMAGE" at "$WORK/k.img" && cp "$WORK/k.img" "$WORK/k.orig"
  # kernel INJECT TEXT: the write with strace's INJECT exits 1 with TEXT and
  # leaves the image as it was.
  kernel() {
    cp "$WORK/k.orig" "$WORK/k.img"
    ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace="${1%%:*}" -e inject="$1" "$K" --yes write "$WORK/k.img" $NEW \
      >"$WORK/out" 2>"$WORK/err" </dev/null
    rc=$?
    expect_rc 1 "strace $1"
    expect_err "理由: $2" "strace $1"
    expect_unchanged "$WORK/k.orig" "$WORK/k.img" "strace $1"
    printf '%-10s %-32s %4s %s\n' strace "$1" "$rc" "$2"
  }
  kernel fsync:error=EIO:when=1 "$TXT_UNDONE"
  kernel pwrite64:retval=2:when=1 "$TXT_UNDONE"
  kernel pwrite64:error=EIO "$TXT_UNDONE"

  # Another program that takes no lock changes byte 0x1C2 while the write
  # waits in its pwrite: the change stays, and the signature is written.
  cp "$WORK/k.orig" "$WORK/k.img"
  ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=pwrite64 -e inject=pwrite64:delay_enter=1500000 \
    "$K" --yes write "$WORK/k.img" $NEW >"$WORK/out" 2>"$WORK/err" </dev/null &
  pid=$!
  sleep 0.5
  printf '\x5a' | dd of="$WORK/k.img" bs=1 seek=$((0x1C2)) conv=notrunc status=none
  wait $pid
  rc=$?
  expect_rc 0 "lock-free change during the write"
  [ "$(od -An -tx1 -j $((0x1C2)) -N1 "$WORK/k.img" | tr -d ' ')" = 5a ] ||
    fail "lock-free change during the write: byte 0x1C2 reverted"
  [ "$(od -An -tx1 -j $((0x1B8)) -N4 "$WORK/k.img" | tr -d ' ')" = 8d7c6b5a ] ||
    fail "lock-free change during the write: signature not written"
else
  echo "note: no strace here; the kernel's own failures not injected"
fi

finish
