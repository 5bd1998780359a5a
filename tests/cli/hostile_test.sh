#!/usr/bin/env bash
# Hostile names, outputs and locales: what reaches the terminal is escaped,
# every failure is named with the system's reason.
. "$(dirname "$0")/lib.sh"

img=$WORK/at.img
"$MKIMAGE" at "$img" --container raw || fail "mkimage"

# Standard output that cannot be written fails every command.
for args in "--json list $img" "list $img" "get $img" "--json get $img" "--help"; do
  # shellcheck disable=SC2086
  "$K" $args >/dev/full 2>"$WORK/err" </dev/null
  rc=$?
  [ "$rc" != 0 ] || fail "$args >/dev/full: exit 0"
  grep -q "^標準出力に書き込めませんでした: デバイスに空き領域がありません$" "$WORK/err" || fail "$args >/dev/full: no reason"
done
# A pipe whose reader is gone: said the same way, not a silent death.
python3 -c 'import os, subprocess, sys
r, w = os.pipe(); os.close(r)
sys.exit(subprocess.call(sys.argv[1:], stdout=w))' "$K" list "$img" 2>"$WORK/err" </dev/null
expect_rc 1 "list into a closed pipe"
grep -q "^標準出力に書き込めませんでした: ." "$WORK/err" || fail "list into a closed pipe: no reason"

# Names with escape sequences, newlines, bytes that are not UTF-8 and
# backslashes reach the terminal escaped, on every line that shows them.
bad=$WORK/$'a\e]0;t\a\e[31m\nb\\\xff\xc2\x85'
shown=$WORK/'a\e]0;t\x07\e[31m\nb\\\xff\xc2\x85'
cp "$img" "$bad.img"
mkdir -p "$bad/etc"
echo "PARTUUID=1234abcd-01 / ext4 defaults 0 1" >"$bad/etc/fstab"
# shown WHAT STRING COUNT: COUNT lines of out and err hold STRING; no raw
# control or invalid byte anywhere.
shown() {
  LC_ALL=C grep -q $'[\e\a\xff]' "$WORK/out" "$WORK/err" && fail "$1: raw bytes"
  [ "$(cat "$WORK/out" "$WORK/err" | grep -cF -- "$2")" = "$3" ] || {
    fail "$1: not $3 lines with $2"
    show_err
  }
}
run list "$bad.img"
shown list " $shown.img " 1
run get "$bad.img"
shown get "$shown.img" 1
run get "$bad.missing"
shown missing "[$shown.missing]" 1
head -c 100 "$img" >"$bad.small"
run list "$bad.small"
shown unreadable "($shown.small)" 1
run --yes --dry-run --root "$bad" write "$bad.img" 0
shown write "$shown" 3
shown reference "$shown/etc/fstab" 1
# A loop device over it: the table's backing-file column holds the whole
# name, escaped, on one row.
if needs loop && attach "$bad.img"; then
  run list
  shown "loop list" "$shown.img" 1
fi

# JSON: the name's bytes beside its text, apart from a real U+FFFD.
cp "$img" "$WORK/"$'\xef\xbf\xbd.img'
cp "$img" "$WORK/"$'\xff.img'
run --json list "$WORK/"$'\xef\xbf\xbd.img' "$WORK/"$'\xff.img'
python3 - "$WORK/out" <<'PY' || fail "json: names not told apart"
import json, sys
disks = [d for d in json.load(open(sys.argv[1]))["disks"] if d["image"]]
bytes_of = {bytes.fromhex(d["device_bytes"]) if "device_bytes" in d else d["device"].encode() for d in disks}
assert len(disks) == 2 and len(bytes_of) == 2, disks
assert any(b.endswith(b"/\xff.img") for b in bytes_of), bytes_of
PY
# ... and a file under --root that could not be read (a FIFO) keeps its bytes.
mkdir -p "$bad.root/etc" && mkfifo "$bad.root/etc/fstab"
run --json --yes --dry-run --root "$bad.root" write "$bad.img" 0
python3 - "$WORK/out" "$bad.root/etc/fstab" <<'PY' || fail "json: unread file's bytes"
import json, os, sys
unread = json.load(open(sys.argv[1]))["unread_files"]
assert [bytes.fromhex(f["file_bytes"]) for f in unread] == [os.fsencode(sys.argv[2])], unread
PY

# A path as long as the system takes works; one it refuses gets its reason.
long=$WORK/$(printf 'd%.0s' {1..200})/$(printf 'e%.0s' {1..200})/$(printf 'f%.0s' {1..120})
mkdir -p "$long"
cp "$img" "$long/x.img"
for args in "get $long/x.img" "list $long/x.img" "--yes write $long/x.img 1A2B3C4D"; do
  run $args
  expect_rc 0 "${args%% *}, ${#long}-character path"
done
ln -s loop "$WORK/loop"
for path in "$WORK/$(printf 'n%.0s' {1..300})" "$WORK/$(printf 'a/%.0s' {1..2100})x" "$WORK/loop" "$img/x"; do
  run get "$path"
  expect_rc 1 "get ${path:0:40}..."
  grep -q "^\[$path\] ." "$WORK/err" && ! grep -q "ディスクがありません" "$WORK/err" ||
    fail "get ${path:0:40}...: not the system's reason: $(cat "$WORK/err")"
done

# A backup that cannot be written gives the system's reason (a full file
# system), and the disk is left as it was.
if [ "$(id -u)" = 0 ] && mkdir "$WORK/full" && mount -t tmpfs -o size=4k none "$WORK/full"; then
  at_exit "umount '$WORK/full'"
  cp "$img" "$WORK/full.img"
  run --yes --backup "$WORK/full/b" write "$WORK/full.img" 5A6B7C8D
  expect_rc 1 "backup on a full file system"
  expect_err "理由: バックアップファイル[$WORK/full/b]を作れません: デバイスに空き領域がありません" \
    "backup on a full file system"
  expect_unchanged "$img" "$WORK/full.img" "backup on a full file system"
  [ -e "$WORK/full/b" ] && fail "backup on a full file system: partial file left"
  umount "$WORK/full"
else
  missing+=("tmpfs")
fi

# SIGINT or SIGHUP while the write waits in its fsync: the write is finished
# and read back, what the disk holds is said, the exit names the signal.
if needs strace sfdisk; then
  for sig in INT:130:5A6B7C8D HUP:129:6B7C8D9E; do
    IFS=: read -r name code value <<<"$sig"
    cp "$img" "$WORK/int.img"
    ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=fsync -e inject=fsync:delay_enter=1500000:when=1 \
      "$K" --yes write "$WORK/int.img" $value >"$WORK/out" 2>"$WORK/err" </dev/null &
    tracer=$!
    sleep 0.7
    kill -$name "$(pgrep -P "$tracer")"
    wait "$tracer"
    rc=$?
    expect_rc $code "SIG$name in the fsync"
    grep -qxF "新NTSig"$'\t'"= [$value]" "$WORK/out" || fail "SIG$name in the fsync: no result"
    expect_err "SIG$name を受けたので、ここで終了します。ディスクは上記のとおりです。これ以降は何も変更していません。" \
      "SIG$name in the fsync"
    [ "$(sfdisk --disk-id "$WORK/int.img")" = "0x${value,,}" ] || fail "SIG$name in the fsync: disk holds $(sfdisk --disk-id "$WORK/int.img")"
  done
fi

finish
