#!/usr/bin/env bash
# Disks the program refuses: it says why, exits 1 and leaves the image as it
# was, even when every question is answered Yes.
. "$(dirname "$0")/lib.sh"

# make KIND: makes the image WORK/KIND.img (.hdi, .nhd, .vhd for the
# containers' own kinds) and a copy of it.
img_of() {
  case $1 in
  hdi-*) echo "$WORK/$1.hdi" ;;
  nhd-*) echo "$WORK/$1.nhd" ;;
  vhd-*) echo "$WORK/$1.vhd" ;;
  *) echo "$WORK/$1.img" ;;
  esac
}
make() {
  "$MKIMAGE" "$1" "$(img_of "$1")" || fail "mkimage $1"
  cp "$(img_of "$1")" "$WORK/$1.orig"
}

# expect_refused KIND COMMAND LINE: COMMAND (get or write) exits 1 with LINE,
# where N in LINE stands for the disk: get names an image by its path (it
# lists no disks, so numbers none), write by its number; the image stays as
# it was. A
# write is refused before the caution notice, and LINE is its reason.
expect_refused() {
  local line
  local img
  img=$(img_of "$1")
  if [ "$2" = get ]; then run get "$img"; else run --yes --backup "$WORK/b" write "$img" 5A6B7C8D; fi
  expect_rc 1 "$1 $2"
  line=${3//N/$img}
  if [ "$2" = write ]; then
    line=${3//N/$(bound_number)}
    expect_err "ディスク #$(bound_number) ($img) には書き込めません。何も書き込んでいません。" "$1 write"
    line="理由: $line"
    grep -q '注意事項' "$WORK/err" && fail "$1 write: caution notice shown before refusing"
    [ -e "$WORK/b" ] && fail "$1 write: backup file created"
  fi
  expect_err "$line" "$1 $2"
  expect_no_out "$1 $2"
  expect_unchanged "$WORK/$1.orig" "$img" "$1 $2"
}

make gpt
expect_refused gpt get "ディスク N は GPT ディスクです。GPT ディスクにＮＴシグニチャは有りません。"
run --json get "$WORK/gpt.img"
expect_rc 1 "gpt get --json"
grep -q '"format": "gpt"' "$WORK/out" && grep -q '"error_code": "gpt"' "$WORK/out" ||
  fail "gpt get --json: $(cat "$WORK/out")"
expect_refused gpt write "GPT ディスクです。GPT のディスク GUID はこのプログラムでは扱いません。"

# Without the boot mark: refused with why, before anything is asked.
for kind in nomark swapped; do
  make $kind
  expect_refused $kind get "ハードディスクＩＰＬが見つかりません。(N)"
  expect_refused $kind write "ブートマーク(0x1FE の 55 AA)がありません。"
  grep -q 'に変更してよろしいですか' "$WORK/err" && fail "$kind write: confirmation asked"
done

# A boot area whose format cannot be settled: Get warns and reports, Write
# refuses.
make neither
run get "$WORK/neither.img"
expect_rc 0 "neither get"
expect_err "ハードウェア機種情報の取得に失敗しました($WORK/neither.img)" "neither get"
expect_out "$EXPECTED/neither-raw.get" "neither get"
expect_refused neither write "ＮＴシグニチャの位置(AT互換機/PC-9821)を決められません。"

# Too short for the boot area, and containers whose header lies: the open
# fails and the reason follows the message.
for kind in short hdi-lying hdi-geometry hdi-secsize nhd-lying nhd-wrap vhd-badsum vhd-small; do
  make $kind
  expect_refused $kind get "ディスクの読込に失敗しました (N)"
  grep -q '^理由: ' "$WORK/err" || fail "$kind get: no reason given"
  run --yes write "$(img_of $kind)" 5A6B7C8D
  expect_rc 1 "$kind write"
  grep -q '^理由: ' "$WORK/err" || fail "$kind write: no reason given"
  grep -q '注意事項' "$WORK/err" && fail "$kind write: caution notice shown before refusing"
  expect_unchanged "$WORK/$kind.orig" "$(img_of $kind)" "$kind write"
done
run get "$(img_of hdi-secsize)"
expect_err "理由: イメージのセクタサイズ(ヘッダに記録された値)には対応していません。対応は512バイトです。" \
  "hdi-secsize"

# A backup file that cannot be made is refused before anything is asked,
# with the reason.
make at
for case in "$WORK/none/b:ディレクトリがありません。" "$WORK/at.orig/b:ディレクトリではありません。"; do
  run --yes --backup "${case%%:*}" write "$WORK/at.img" 5A6B7C8D
  expect_rc 1 "backup ${case%%:*}"
  expect_err "バックアップファイル[${case%%:*}]を作れません: ${case#*:}" "backup ${case%%:*}"
  grep -q '注意事項' "$WORK/err" && fail "backup ${case%%:*}: caution notice shown"
done
expect_unchanged "$WORK/at.orig" "$WORK/at.img" "bad backup directory"

# Names that are no disk.
run get "$WORK/missing.img"
expect_rc 1 "missing image"
grep -q "^\[$WORK/missing.img\] " "$WORK/err" || fail "missing image: path not named"
# The signature changed after the confirmation (while the writer waits for
# its lock, under strace): refused, both values named.
if needs strace; then
  make at
  ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=flock -e inject=flock:delay_enter=1000000:when=1 \
    "$K" --yes write "$WORK/at.img" 5A6B7C8D >"$WORK/out" 2>"$WORK/err" </dev/null &
  sleep 0.5
  printf '\x0d\xf0\xad\x0b' | dd of="$WORK/at.img" bs=1 seek=$((0x1B8)) conv=notrunc status=none
  wait $!
  rc=$?
  expect_rc 1 "signature changed after the confirmation"
  expect_err "理由: 確認の後にディスクのブート領域が変更されたため、書き込みませんでした。" "signature changed"
  expect_err "確認したＮＴシグニチャ [1234ABCD]、現在のＮＴシグニチャ [0BADF00D]" "signature changed"
fi

run --yes write "$WORK" 1
expect_rc 1 "directory write"
expect_err "[$WORK] ディスクではありません(ディレクトリ等)。" "directory write"
# Numbers have no upper bound: one past the list names no disk (other
# tests may attach devices meanwhile: far past it).
for n in "get 100000" "access 99999"; do
  run $n
  expect_rc 1 "$n"
  expect_err "ディスクの読込に失敗しました (${n#* })" "$n"
  expect_err "理由: ディスクがありません。" "$n"
done

finish
