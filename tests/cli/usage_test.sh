#!/usr/bin/env bash
# Bad usage exits 2 with one line on standard error and touches nothing;
# options anywhere; answers typed on a terminal; --help and --version.
. "$(dirname "$0")/lib.sh"

"$MKIMAGE" at "$WORK/at.img"
cp "$WORK/at.img" "$WORK/at.orig"
img=$WORK/at.img

bad() {
  run "$@"
  expect_rc 2 "kormelde $*"
  expect_no_out "kormelde $*"
  [ "$(wc -l <"$WORK/err")" = 1 ] || fail "kormelde $*: hint is not one line"
  grep -q -- '--help' "$WORK/err" || fail "kormelde $*: hint does not point to --help"
}

bad
bad frobnicate
bad list extra
bad get
bad get "$img" "$img"
bad access
bad write "$img"
bad --yes write "$img" 5A6B7C8D extra
bad --frob get "$img"
bad -y -n get "$img"
bad --backup "$WORK/b" get "$img"
bad --dry-run get "$img"
bad --json access "$img"
bad -yn get "$img"
bad --yes write "$img" 5A6B7C8D "$WORK/missing.img"
bad list "$WORK"
bad --ro get "$img"
bad --root "" --yes write "$img" 5A6B7C8D
bad --yes write "$img" 5A6B7C8D --backup
bad --backup= --yes write "$img" 5A6B7C8D
bad --sector-size 1024 get "$img"
bad get "$img" --sector-size
# Signatures are 1 to 8 hexadecimal digits: nothing else is guessed at.
for sig in "" xyz 12G4 123456789 0x 0x123456789 -1 " 1234" "1234 "; do
  bad --yes write "$img" "$sig"
done
expect_unchanged "$WORK/at.orig" "$img" "bad usage"
[ -e "$WORK/b" ] && fail "bad usage: backup file created"

# Short options bundle, long ones may be abbreviated and take =VALUE.
run -nV
expect_rc 0 "-nV"
grep -q '^kormelde ' "$WORK/out" || fail "-nV: no version"
run --sector=512 --n get "$img"
expect_rc 0 "--sector=512 --n get"

# Options may follow the command; -- ends them.
run get "$img" --no
expect_rc 0 "get IMG --no"
run --yes write -- "$img" 0x00000000
expect_rc 0 "write -- IMG 0x00000000"
expect_four_bytes "$WORK/at.orig" "$img" $((0x1B8)) "write -- IMG 0x00000000"

# Answers typed on a terminal: only Yes to both questions writes.
if needs script; then
  cp "$img" "$WORK/before"
  refused_typed() {
    on_tty "$WORK/tty" "'$K' write '$img' 11111111" "$@"
    [ $rc = 1 ] || fail "typed '$*': not refused"
    expect_unchanged "$WORK/before" "$img" "typed '$*'"
  }
  refused_typed n
  refused_typed y n
  refused_typed y ""
  refused_typed yes maybe
  # An answer is a whole line, and only to the question it follows: a line
  # of y and spaces and y, or a second line typed ahead, answers no more.
  on_tty "$WORK/tty" "'$K' write '$img' 11111111" "y$(printf '%300s' '')y"
  [ $rc = 1 ] || fail "one long line: taken for two answers"
  on_tty "$WORK/tty" "'$K' write '$img' 11111111" "$(printf 'y\ny')"
  [ $rc = 1 ] || fail "a line typed ahead: taken for the next answer"
  expect_unchanged "$WORK/before" "$img" "answers typed ahead"
  on_tty "$WORK/tty" "'$K' write '$img' 11111111" y Y
  [ $rc = 0 ] || fail "typed y, Y: not written"
  [ "$(sfdisk --disk-id "$img")" = 0x11111111 ] || fail "typed y, Y: sfdisk reads $(sfdisk --disk-id "$img")"
  # Access: a bar while the sweep runs on a terminal, then the closing line.
  script -qec "'$K' access '$img'" /dev/null >"$WORK/tty" </dev/null
  grep -q '100%' "$WORK/tty" || fail "access on a terminal: no progress"
  grep -q 'テストアクセス完了: 200 回の読込、' "$WORK/tty" || fail "access on a terminal: no closing line"
fi
run access "$img"
expect_rc 0 "access without a terminal"
grep -q '%' "$WORK/err" && fail "access without a terminal: progress shown"
grep -q '^テストアクセス完了: 200 回の読込、[0-9.]* 秒。$' "$WORK/err" || fail "access: no closing line"

# --quiet: results and errors only; with a write, the questions it hides
# must be answered by option.
run -q write "$img" 1
expect_rc 2 "-q write without --yes or --no"
expect_err "kormelde: --quiet では質問が見えません。--yes か --no も指定して下さい (詳しくは kormelde --help)" "-q write"
cp "$img" "$WORK/before"
run -qn write "$img" 1
expect_rc 1 "-qn write"
[ "$(cat "$WORK/err")" = "$TXT_CANCELLED" ] || fail "-qn write: stderr is not the result alone"
expect_unchanged "$WORK/before" "$img" "-qn write"
run -yq write "$img" 0x22222222
expect_rc 0 "-yq write"
# Only the warnings a question would show: the host's disks that cannot be
# read for the comparison.
grep -v ' を読めません: ' "$WORK/err" | grep -q . && fail "-yq write: stderr not empty: $(head -c 200 "$WORK/err")"
grep -q '^新NTSig	= \[22222222\]$' "$WORK/out" || fail "-yq write: no result"
run --quiet get "$img"
expect_rc 0 "--quiet get"
[ -s "$WORK/err" ] && fail "--quiet get: stderr not empty"
grep -q '^NTSig	= 22222222$' "$WORK/out" || fail "--quiet get: no report"

run --help
expect_rc 0 "--help"
for word in "list [IMAGE...]" "get DISK" "access DISK" "write DISK SIG" "restore DISK BACKUP" \
  --yes --no --quiet --backup=FILE --sector-size=N --dry-run --root=DIR --json --help --version \
  "終了コード" qemu-nbd /dev/sdb; do
  grep -qF -- "$word" "$WORK/out" || fail "--help does not mention $word"
done
# Within 80 columns, Japanese characters counted two wide; in English too.
narrow() {
  /usr/bin/python3 -c '
import sys, unicodedata
for n, line in enumerate(open(sys.argv[1], encoding="utf-8"), 1):
    width = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line.rstrip("\n"))
    if width > 80:
        print("--help (%s) line %d is %d columns wide" % (sys.argv[2], n, width))
' "$WORK/out" "$1" >"$WORK/wide"
  while read -r line; do fail "$line"; done <"$WORK/wide"
}
narrow ja
LC_ALL=C run --help
grep -q '^Usage: kormelde' "$WORK/out" || fail "--help under C is not English"
narrow C
run -h
expect_rc 0 "-h"
run --version
expect_rc 0 "--version"
grep -qx 'kormelde 1.34 (ビルド [^ ]*)' "$WORK/out" || fail "--version: $(cat "$WORK/out")"
run -V
expect_rc 0 "-V"

finish
