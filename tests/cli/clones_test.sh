#!/usr/bin/env bash
# Cloned disks: equal signatures marked by list, write random avoiding
# them, the question before a write that makes a collision, restore from a
# backup and its refusals, --dry-run, the PARTUUID references under --root,
# and --json for every command, read back with Python's json module.
. "$(dirname "$0")/lib.sh"
PY=/usr/bin/python3

# json EXPR: evaluates EXPR with d = the JSON document on standard output.
json() { "$PY" -c 'import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' \
  "$WORK/out" "$1"; }
expect_json() { # expect_json EXPR VALUE WHAT
  local got
  got=$(json "$1" 2>&1) || { fail "$3: stdout is not one JSON document: $got"; return; }
  [ "$got" = "$2" ] || fail "$3: $1 is '$got', expected '$2'"
}

cd "$WORK" || exit 1
"$MKIMAGE" at a.img --sig 11223344
cp a.img b.img
"$MKIMAGE" pc98 c.img --sig 11223344
"$MKIMAGE" gpt d.img
"$MKIMAGE" at e.img --sig 55667788
cp e.img e.orig

# list: images join the table, equal signatures are marked with the others.
run list a.img b.img c.img d.img
expect_rc 0 "list IMAGES"
row() { awk -v p="$WORK/$1" '$2 == p' "$WORK/out"; }
na=$(row a.img | awk '{print $1}') nb=$(row b.img | awk '{print $1}') nc=$(row c.img | awk '{print $1}')
[ "$(row a.img | awk '{print $4, $5, $6}')" = "AT互換機 11223344 *#$nb,#$nc" ] || fail "list a.img: $(row a.img)"
[ "$(row c.img | awk '{print $4, $6}')" = "PC-9821 *#$na,#$nb" ] || fail "list c.img: $(row c.img)"
[ "$(row d.img | awk '{print $4, $5, $6}')" = "GPT - -" ] || fail "list d.img: $(row d.img)"
grep -q '^注意: 印(\*)のディスクは' "$WORK/err" || fail "list: collisions not explained"
run --json list a.img b.img c.img d.img
expect_rc 0 "list --json"
expect_json "[(x['format'], x['signature'], x['ptuuid'], x['collides_with']) for x in d['disks'] if x['number'] == $na][0]" \
  "('at', '0x11223344', '11223344', [$nb, $nc])" "list --json a.img"
expect_json "[(x['format'], x['ptuuid'], x['size']) for x in d['disks'] if x['number'] == $nc][0]" \
  "('pc98', None, $(stat -c %s c.img))" "list --json c.img"
expect_json "[x['signature'] for x in d['disks'] if x['device'].endswith('/d.img')][0]" None "list --json d.img"

# Names that are not plain text still give a document that parses.
odd=$(printf 'odd"\\\377\t.img')
cp a.img "$odd"
run --json list "$odd"
expect_json "[x['device'] for x in d['disks'] if 'odd' in x['device']][0]" "$WORK/odd\"\\"$'\ufffd\t'".img" "list --json odd name"

# get --json: the report's numbers; partitions by their 1-based index.
run --json get a.img
expect_rc 0 "get --json"
expect_json "(d['device'], d['format'], d['signature'], [p['index'] for p in d['partitions']][:3])" \
  "('$WORK/a.img', 'at', '0x11223344', [1, 2, 5])" "get --json"
expect_json "d['partitions'][0]['bytes']" 15728640 "get --json"
[ "$(json "d['ptuuid']")" = "$(blkid -p -o value -s PTUUID a.img)" ] || fail "get --json: PTUUID is not blkid's"

# A write that makes a collision asks: typed No to it writes nothing.
if needs script; then
  on_tty tty "'$K' write e.img 11223344 a.img" y n
  [ $rc = 1 ] || fail "collision answered No: not refused"
  grep -q '新しいＮＴシグニチャ \[11223344\] は既に次のディスクに有ります' tty || fail "collision: not asked"
  expect_unchanged e.orig e.img "collision answered No"
fi
# Under --quiet the collision is still said, and --yes answers it.
run -q --yes write e.img 11223344 a.img b.img
expect_rc 0 "collision answered Yes"
grep -q '新しいＮＴシグニチャ \[11223344\] は既に次のディスクに有ります' "$WORK/err" ||
  fail "-q -y: collision not said"
grep -qF "　ディスク #" "$WORK/err" || fail "collision: disks not named"
cp e.orig e.img

# random: non-zero, and none of the disks' signatures.
for _ in 1 2 3; do
  run --yes --json write e.img random a.img b.img c.img
  expect_rc 0 "write random"
  sig=$(json "d['signature']")
  case $sig in 0x00000000 | 0x11223344 | 0x55667788) fail "write random: $sig" ;; esac
  [ "$(sfdisk --disk-id e.img)" = "$sig" ] || fail "write random: disk has $(sfdisk --disk-id e.img), JSON $sig"
  expect_json "d['written'], d['dry_run'], d['old_signature'] != d['signature']" "(True, False, True)" "write random --json"
done
cp e.orig e.img

# The value the disk already has: said so before anything is asked, exit 0.
run --yes write e.img 55667788
expect_rc 0 "write same value"
grep -q 'のＮＴシグニチャは既に \[55667788\] です。何も書き込んでいません。' "$WORK/err" ||
  fail "same value: not said already there"
grep -q '注意事項\|変わった PARTUUID' "$WORK/err" "$WORK/out" && fail "same value: asked or said to change"

# References under --root: each file's matches, and lines that only look
# like them.
R=$WORK/root
mkdir -p "$R/etc/default" "$R/etc/kernel" "$R/boot/grub" "$R/boot/loader/entries"
cat >"$R/etc/fstab" <<'X'
PARTUUID=55667788-01 / ext4 defaults 0 1
# PARTUUID=55667788-02 /old ext4 defaults 0 2
partuuid="55667788-05" /data ext4 defaults 0 2
PARTUUID=556677880-01 /a ext4
XPARTUUID=55667788-06 /b ext4
PARTUUID=55667788-0 /c ext4
PARTUUID=55667788-01x /d ext4
PTUUID=55667788 /e ext4
X
printf 'crypt PARTUUID=55667788-06 none luks\n' >"$R/etc/crypttab"
printf 'GRUB_CMDLINE_LINUX="root=PARTUUID=55667788-02 ro"\n' >"$R/etc/default/grub"
printf 'menuentry x {\n\tlinux /vmlinuz root=PARTUUID='"'"'55667788-07'"'"' ro\n}\n' >"$R/boot/grub/grub.cfg"
printf 'root=PARTUUID=11223344-01\n' >"$R/etc/kernel/cmdline"
printf 'title a\noptions root=PARTUUID=55667788-08 quiet\n' >"$R/boot/loader/entries/a.conf"
printf 'options root=PARTUUID=55667788-01\n' >"$R/boot/loader/entries/b.conf.bak"
cp e.img e.before
run --yes --dry-run --root "$R" write e.img ABCD0123
expect_rc 0 "dry run"
expect_unchanged e.before e.img "dry run"
grep -qx -- '--dry-run: 確認は全て通りました。何も書き込んでいません。' "$WORK/out" || fail "dry run: not said"
sed -n 's/^　\([^ ]*\) PARTUUID=\(.*\)$/\1 \2/p' "$WORK/err" >refs
cat >refs.want <<X
$R/etc/fstab:1: 55667788-01 → abcd0123-01
$R/etc/fstab:3: 55667788-05 → abcd0123-05
$R/etc/crypttab:1: 55667788-06 → abcd0123-06
$R/etc/default/grub:1: 55667788-02 → abcd0123-02
$R/boot/grub/grub.cfg:2: 55667788-07 → abcd0123-07
$R/boot/loader/entries/a.conf:2: 55667788-08 → abcd0123-08
X
cmp -s refs.want refs || { fail "references differ"; diff refs.want refs >&2; }
# The references precede the question.
[ "$(grep -n 'どのパーティションも指さなくなります' "$WORK/err" | cut -d: -f1)" -lt \
  "$(grep -n 'に変更してよろしいですか' "$WORK/err" | cut -d: -f1)" ] || fail "references after the question"
run --yes --dry-run --json --root "$R" write e.img ABCD0123
expect_json "(d['written'], d['dry_run'], len(d['references']), d['references'][0])" \
  "(False, True, 6, {'file': '$R/etc/fstab', 'line': 1, 'partuuid': '55667788-01', 'new_partuuid': 'abcd0123-01'})" \
  "dry run --json"
expect_json "[(p['old'], p['new']) for p in d['partuuids']][:2]" \
  "[('55667788-01', 'abcd0123-01'), ('55667788-02', 'abcd0123-02')]" "dry run --json partuuids"
# Files that are not regular files are named with why, never followed and
# never taken for "none"; a root that holds none of the files is refused.
U=$WORK/unread
mkdir -p "$U/etc/default/grub" "$U/boot/loader/entries"
mkfifo "$U/etc/crypttab"
printf 'PARTUUID=55667788-01 / ext4\n' >"$U/etc/fstab"
ln -s /dev/zero "$U/boot/loader/entries/zero.conf"
ln -s y.conf "$U/boot/loader/entries/x.conf"
ln -s x.conf "$U/boot/loader/entries/y.conf"
run --yes --dry-run --root "$U" write e.img ABCD0123
expect_rc 0 "unread files"
sed -n 's/^　\('"${U//\//\\/}"'[^:]*\): .*/\1/p' "$WORK/err" | tr "\n" " " >unread.got
[ "$(cat unread.got)" = "$U/etc/crypttab $U/etc/default/grub $U/boot/loader/entries/x.conf $U/boot/loader/entries/y.conf $U/boot/loader/entries/zero.conf " ] ||
  fail "unread files: $(cat unread.got)"
expect_err "　$U/etc/crypttab: FIFO(名前付きパイプ)です。" "unread FIFO"
expect_err "　$U/etc/default/grub: ディレクトリです。" "unread directory"
grep -q '参照する設定は見つかりませんでした' "$WORK/err" && fail "unread files: said none"
# A file its reader may not read: the system's reason.
if [ "$(id -u)" = 0 ] && needs setpriv; then
  chmod 600 "$U/etc/fstab"
  cp e.img nobody.img && chown 65534 nobody.img
  setpriv --reuid=65534 --regid=65534 --clear-groups "$K" --yes --dry-run --root "$U" \
    write "$WORK/nobody.img" ABCD0123 >"$WORK/out" 2>"$WORK/err" </dev/null
  grep -q "^　$U/etc/fstab: ." "$WORK/err" || fail "fstab its reader may not read: not named"
fi
rm "$U/etc/fstab"
run --yes --dry-run --json --root "$U" write e.img ABCD0123
expect_json "[(f['file'][len('$U'):], f['reason']) for f in d['unread_files']][:2]" \
  "[('/etc/crypttab', 'FIFO(名前付きパイプ)です。'), ('/etc/default/grub', 'ディレクトリです。')]" "unread --json"
for root in "$WORK/none" "$WORK/empty"; do
  mkdir -p "$WORK/empty"
  run --yes --dry-run --root "$root" write e.img ABCD0123
  expect_rc 1 "--root $root"
  grep -q "^--root \[$root\] は使えません: " "$WORK/err" || fail "--root $root: not refused"
  grep -q '注意事項' "$WORK/err" && fail "--root $root: asked before refusing"
done
# A line that repeats the name is read in linear time: 64 MiB of it in
# not much more than 16 times 4 MiB's processor time.
mkdir -p "$WORK/big/etc"
for size in 4 64; do
  yes partuuid= | tr -d '\n' | head -c ${size}M >"$WORK/big/etc/fstab"
  TIMEFORMAT='%3U %3S'
  { time run --yes --dry-run --root "$WORK/big" write e.img ABCD0123; } 2>"$WORK/cpu"
  eval ms$size=$(awk '{printf "%d", ($1 + $2) * 1000}' "$WORK/cpu")
  expect_rc 0 "$size MiB fstab"
done
[ "$ms64" -lt $((24 * ms4 + 1000)) ] || fail "64 MiB fstab: $ms64 ms of processor time, 4 MiB: $ms4 ms"
rm -rf "$WORK/big"

# A dry run opens nothing for writing and makes no backup.
if needs strace; then
  # LeakSanitizer cannot run under ptrace.
  ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=open,openat -o trace "$K" --yes --dry-run --backup "$WORK/dry.bak" \
    write e.img ABCD0123 </dev/null >/dev/null 2>&1 || fail "dry run under strace"
  grep -E 'O_(WRONLY|RDWR)' trace && fail "dry run: opened for writing"
  [ -e dry.bak ] && fail "dry run: backup made"
fi

# After the write, the PARTUUIDs that changed, numbered as partx numbers them.
run --yes write e.img ABCD0123
sed -n 's/^　\(55667788-..\) → .*/\1/p' "$WORK/out" | tr '\n' ' ' >parts
[ "$(cat parts)" = "$(partx -g -o UUID e.orig | tr '\n' ' ')" ] || fail "changed PARTUUIDs: $(cat parts)"
cp e.orig e.img

# restore: the backup's signature back through the same rewrite.
rm -f e.bak
run --yes --backup e.bak write e.img 99990000
expect_rc 0 "write with backup"
run --yes --json restore e.img e.bak
expect_rc 0 "restore"
expect_json "(d['old_signature'], d['signature'], d['written'])" "('0x99990000', '0x55667788', True)" "restore --json"
expect_unchanged e.orig e.img "restore"
# ...refused for another disk's backup, a re-partitioned disk, another format.
"$MKIMAGE" at-primary g.img --sig 55667788
cp g.img g.orig
"$MKIMAGE" pc98 h.img --sig 55667788
dd if=h.img of=h.bak bs=512 count=32 status=none
cp e.img f.img
printf '\001' | dd of=f.img bs=1 seek=$((0x1CA)) conv=notrunc status=none
cp f.img f.orig
dd if=e.img of=e.grub bs=512 count=32 status=none
printf 'x' | dd of=e.grub bs=1 seek=$((0x800)) conv=notrunc status=none
for case in "g.img e.bak 0x[0-9A-F]* から.*パーティションテーブルも違います" "f.img e.bak 0x1CA パーティションテーブルも違います" \
  "e.img e.grub 0x800 パーティションテーブルは同じです" "e.img h.bak 形式が違います"; do
  set -- $case
  cp "$1" before
  run --yes restore "$1" "$2"
  expect_rc 1 "restore $1 $2"
  grep -q "^\[$2\] はこのディスクのバックアップではありません: .*$3" "$WORK/err" || {
    fail "restore $1 $2: no '$3'"
    show_err
  }
  grep -q '注意事項' "$WORK/err" && fail "restore $1 $2: asked before refusing"
  expect_unchanged before "$1" "restore $1 $2"
done
# ...and for a disk re-partitioned while the questions were open (the
# writer's lock held back by strace).
if needs strace; then
  cp e.orig e.img
  run --yes --backup e2.bak write e.img 99990000
  ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=flock \
    -e inject=flock:delay_enter=1000000:when=1 "$K" --yes restore e.img e2.bak >out 2>err </dev/null &
  sleep 0.5
  printf '\001' | dd of=e.img bs=1 seek=$((0x1CA)) conv=notrunc status=none
  wait $!
  rc=$?
  expect_rc 1 "restore on a disk re-partitioned meanwhile"
  expect_err "理由: 確認の後にディスクのブート領域が変更されたため、書き込みませんでした。" \
    "restore on a disk re-partitioned meanwhile"
  [ "$(od -An -tx1 -j $((0x1B8)) -N4 e.img | tr -d ' ')" = 00009999 ] ||
    fail "restore on a disk re-partitioned meanwhile: signature written"
fi

# A disk named to compare that cannot be read is said to be left out.
"$MKIMAGE" nhd-wrap liar.nhd
run --yes --dry-run write e.img ABCD0123 liar.nhd
grep -q "^ディスク #[0-9]* ($WORK/liar.nhd) を読めません: " "$WORK/err" ||
  fail "dry run with an unreadable disk to compare: not named"

finish
