#!/usr/bin/env bash
# What an administrator meets on images, in scripts and on a terminal: a
# dry run of random and the command it prints, the backup's restore
# command, value-only reads and chosen columns, JSON partitions, disks that
# cannot be read told once, and access's bar within a narrow terminal.
. "$(dirname "$0")/lib.sh"
cd "$WORK" || exit 1
sig() { od -An -tx1 -j $((0x1B8)) -N4 "$1" | awk '{print toupper($4 $3 $2 $1)}'; }

"$MKIMAGE" at d.img --sig 1234ABCD >/dev/null || fail "mkimage at"
cp d.img d.orig

# A dry run without a terminal answers yes, says so, writes nothing; its
# random value comes with the command that writes it, and that command does.
run --dry-run write d.img RANDOM
expect_rc 0 "dry run of RANDOM"
grep -q 'はい (--dry-run で端末が無いため。何も書き込みません)$' err || fail "dry run: no yes said"
expect_unchanged d.orig d.img "dry run"
value=$(sed -n 's/^random の値は \[\([0-9A-F]\{8\}\)\] です。.*/\1/p' out)
command=$(sed -n 's/^  \(kormelde write .*\)/\1/p' out)
[ "$command" = "kormelde write d.img $value" ] || fail "dry run: command '$command' for '$value'"
K2=$K eval "\"\$K2\" --yes ${command#kormelde }" >/dev/null 2>&1 </dev/null
[ "$(sig d.img)" = "$value" ] || fail "the printed command wrote $(sig d.img), the dry run showed $value"

# The success names the backup file and the command that restores it.
cp d.img d.before
run --yes --backup="$WORK/b 1.bin" write d.img 0A0B0C0D
expect_rc 0 "write with a backup"
grep -qF "バックアップファイル[$WORK/b 1.bin]に有ります" out || fail "backup file not named"
restore=$(sed -n 's/^  \(kormelde restore .*\)/\1/p' out)
[ "$restore" = "kormelde restore d.img '$WORK/b 1.bin'" ] || fail "restore command: $restore"
K2=$K eval "\"\$K2\" --yes ${restore#kormelde }" >/dev/null 2>&1 </dev/null
cmp -s d.before d.img || fail "the printed restore command did not restore the disk"

# Values for scripts, columns as chosen, JSON partitions in sectors too.
run --value get d.img
[ "$(cat out)" = "$value" ] || fail "get --value: $(cat out)"
run -o SIGNATURE,format get d.img
[ "$(cat out)" = "$value AT互換機" ] || fail "get -o: $(cat out)"
run -o path,signature list d.img
[ "$(tail -n1 out | tr -s ' ')" = "$WORK/d.img $value" ] || fail "list -o: $(tail -n1 out)"
head -n1 out | grep -q '^パス *ＮＴシグニチャ$' || fail "list -o heading: $(head -n1 out)"
run -o size,bogus list
expect_rc 2 "list -o with an unknown column"
run --json get d.img
expected=$(sfdisk -J d.img | python3 -c 'import json,sys
print([(p["start"], p["size"]) for p in json.load(sys.stdin)["partitiontable"]["partitions"]])')
got=$(python3 -c 'import json,sys; d=json.load(open("out"))
print(d["number"], [p["node"] for p in d["partitions"]] == [None] * len(d["partitions"]))
print([(p["start"], p["size"]) for p in d["partitions"] if p["number"]])')
[ "$got" = "None True
$expected" ] || fail "get --json partitions: $got, sfdisk: $expected"

# Disks that cannot be read: one line for each reason, naming them all.
"$MKIMAGE" nhd-wrap l1.nhd >/dev/null && cp l1.nhd l2.nhd
: >empty.img && truncate -s 1M empty.img
run --dry-run write d.img 1 l1.nhd l2.nhd
[ "$(grep -c 'l[12].nhd' err)" = 1 ] && grep -q "(\S*l1.nhd), #[0-9]* (\S*l2.nhd) を読めません" err ||
  fail "unreadable disks: $(grep 'を読めません' err)"

# JSON refusals: the text in the locale's language, the code in none.
for lang in C ja_JP.UTF-8; do
  LC_ALL=$lang "$K" --json get empty.img >out 2>/dev/null
  LC_ALL=$lang "$K" --json get 99999 >>out 2>/dev/null
  LC_ALL=$lang "$K" --json --yes write empty.img 1 >>out 2>/dev/null
  codes=$(python3 -c 'import json,sys
t=open(sys.argv[1]).read(); d=json.JSONDecoder(); i=0; c=[]
while i < len(t):
    o,i=d.raw_decode(t,i); c.append(o["error_code"]); i+=len(t[i:])-len(t[i:].lstrip())
print(*c)' out)
  [ "$codes" = "no-boot-mark no-such-disk no-boot-mark" ] || fail "JSON codes under $lang: $codes"
done

# English: what is wrong in words, no codes.
LC_ALL=C "$K" get empty.img 2>err >/dev/null
grep -q "^Disk \S*empty.img has no boot record" err && ! grep -q 'IPL\|(\S*)$' err ||
  fail "English for an empty disk: $(cat err)"

# access on a 30-column terminal: every redraw of the bar fits.
on_tty tty "stty cols 30; $K access $WORK/d.img"
expect_rc 0 "access on a terminal"
wide=$(tr '\r' '\n' <tty | grep '^\[' | awk 'length > 29' | head -n1)
grep -q '^\[#' <(tr '\r' '\n' <tty) && [ -z "$wide" ] || fail "access bar on 30 columns: '$wide'"

finish
