#!/usr/bin/env bash
# Virtual-machine images through qemu-nbd, as an unprivileged user: each
# format read and written (only the signature's four bytes change, QEMU's
# check stays clean), an overlay over its base, and the images QEMU
# refuses or another QEMU program holds. 77: a tool is missing.
. "$(dirname "$0")/lib.sh"

needs qemu-img qemu-nbd qemu-io sfdisk setpriv script || finish
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }
as_user true 2>/dev/null || skip "cannot run as an unprivileged user"
export LC_ALL=C.UTF-8 LANGUAGE=en

DIR=$(mktemp -d /tmp/kormelde-vm.XXXXXX)
chmod 755 "$DIR"
held=()
cleanup() {
  exec 9>&- 2>/dev/null
  for pid in "${held[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$DIR"
}
at_exit cleanup

urun() {
  as_user "$K" "$@" >"$WORK/out" 2>"$WORK/err" </dev/null
  rc=$?
}
said() { grep -qF -- "$1" "$WORK/err" || { fail "$2: no '$1' on stderr"; show_err; }; }
own() { chown 65534:65534 "$DIR"/*; }
# The disk an image holds, as raw bytes of the base's size.
as_raw() {
  qemu-img convert -O raw "$1" "$DIR/out.raw" && truncate -s "$(stat -c %s "$DIR/base.raw")" "$DIR/out.raw"
}
# This test's qemu-nbd and kormelde processes still running (not zombies).
alive() {
  local pid
  for pid in $(pgrep -u 65534 -x "$1"); do
    grep -q "$DIR" "/proc/$pid/cmdline" 2>/dev/null && [ "$(ps -o stat= -p "$pid")" != Z ] && echo "$pid"
  done
}

truncate -s 8M "$DIR/base.raw"
printf 'label: dos\nlabel-id: 0x12345678\n,4M,7\n' | sfdisk -q "$DIR/base.raw" || fail "sfdisk"

# A run that opens no VM image never loads libnbd, nor what it pulls in.
if needs strace; then
  ASAN_OPTIONS=detect_leaks=0 strace -f -e trace=openat -o "$WORK/trace" "$K" get "$DIR/base.raw" >/dev/null 2>&1
  ! grep -q 'libnbd\|libgnutls' "$WORK/trace" || fail "get on a raw image loads libnbd"
fi
AT=440

# Each format QEMU writes: get, write, only four bytes changed, check clean.
images=()
for kind in qcow2 vmdk:monolithicSparse vmdk:monolithicFlat vmdk:twoGbMaxExtentSparse vdi vhdx vpc; do
  fmt=${kind%%:*} sub=${kind#*:}
  img=$DIR/disk-${sub}.$fmt
  opts=()
  [ "$sub" != "$kind" ] && opts=(-o "subformat=$sub")
  qemu-img convert -q -O "$fmt" "${opts[@]}" "$DIR/base.raw" "$img" || {
    fail "$kind: qemu-img convert"
    continue
  }
  own
  images+=("$img")
  urun get "$img"
  expect_rc 0 "$kind get"
  grep -q "^NTSig.*= 12345678" "$WORK/out" || fail "$kind get: signature not shown"
  urun --yes write "$img" CAFEBABE
  expect_rc 0 "$kind write"
  as_raw "$img" && expect_four_bytes "$DIR/base.raw" "$DIR/out.raw" $AT "$kind write"
  qemu-img check -q "$img" 2>/dev/null
  checked=$? # 63: the format has no check
  [ $checked = 0 ] || [ $checked = 63 ] || fail "$kind: qemu-img check after the write"
done

# list opens them a few at a time; each shows the new signature.
urun list "${images[@]}"
expect_rc 0 "list"
for img in "${images[@]}"; do
  grep -q "$img .* CAFEBABE " "$WORK/out" || fail "list: $img not listed with CAFEBABE"
done

# An overlay is written, its backing file left as it was; without the
# backing file QEMU's reason is shown.
qemu-img convert -q -O qcow2 "$DIR/base.raw" "$DIR/base.qcow2"
qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 "$DIR/overlay.qcow2"
own
cp "$DIR/base.qcow2" "$DIR/base.copy"
urun --yes write "$DIR/overlay.qcow2" 8765FEDC
expect_rc 0 "overlay write"
expect_unchanged "$DIR/base.copy" "$DIR/base.qcow2" "overlay write: the backing file"
as_raw "$DIR/overlay.qcow2" && expect_four_bytes "$DIR/base.raw" "$DIR/out.raw" $AT "overlay write"
mv "$DIR/base.qcow2" "$DIR/base.moved"
urun get "$DIR/overlay.qcow2"
expect_rc 1 "overlay without its base"
said "Could not open backing file" "overlay without its base"
mv "$DIR/base.moved" "$DIR/base.qcow2"

# A qcow2 with a broken refcount block opens; qemu-img check refuses it.
qemu-img convert -q -O qcow2 "$DIR/base.raw" "$DIR/corrupt.qcow2"
table=$((16#$(od -An -tx1 -j48 -N8 "$DIR/corrupt.qcow2" | tr -d ' \n')))
block=$((16#$(od -An -tx1 -j$table -N8 "$DIR/corrupt.qcow2" | tr -d ' \n')))
dd if=/dev/zero of="$DIR/corrupt.qcow2" bs=1 seek=$block count=16 conv=notrunc status=none
own
cp "$DIR/corrupt.qcow2" "$DIR/corrupt.copy"
urun --yes write "$DIR/corrupt.qcow2" 1
expect_rc 1 "corrupt qcow2"
said "qemu-img check found errors" "corrupt qcow2"
expect_unchanged "$DIR/corrupt.copy" "$DIR/corrupt.qcow2" "corrupt qcow2"

# Held by another qemu-nbd: read (shared), not written, QEMU says why.
img=${images[0]}
cp "$img" "$DIR/held.copy"
qemu-nbd -f qcow2 -k "$DIR/other.sock" "$img" &
held+=($!)
for _ in $(seq 50); do [ -S "$DIR/other.sock" ] && break; sleep 0.1; done
urun get "$img"
expect_rc 0 "qcow2 held by qemu-nbd: get"
urun --yes write "$img" 1
expect_rc 1 "qcow2 held by qemu-nbd: write"
said 'Failed to get shared "write" lock' "qcow2 held by qemu-nbd"
kill "${held[0]}"
wait "${held[0]}" 2>/dev/null
expect_unchanged "$DIR/held.copy" "$img" "qcow2 held by qemu-nbd"

# Images a QEMU program has open (qemu-io, as a VM would): a raw one, which
# the program writes itself, by QEMU's lock bytes; a qcow2 with QEMU's words.
cp "$DIR/base.raw" "$DIR/vm.raw"
own
mkfifo "$DIR/io"
qemu-io -f raw "$DIR/vm.raw" <"$DIR/io" >/dev/null &
held+=($!)
qemu-io -f qcow2 "$img" <"$DIR/io" >/dev/null &
held+=($!)
exec 9>"$DIR/io"
sleep 0.5
urun --yes write "$DIR/vm.raw" 1
expect_rc 1 "raw image held by qemu-io"
said "in use by a running virtual machine" "raw image held by qemu-io"
expect_unchanged "$DIR/base.raw" "$DIR/vm.raw" "raw image held by qemu-io"
urun --yes write "$img" 1
expect_rc 1 "qcow2 held by qemu-io"
said 'Failed to get shared "write" lock' "qcow2 held by qemu-io"
expect_unchanged "$DIR/held.copy" "$img" "qcow2 held by qemu-io"
exec 9>&-
wait

# Encrypted (LUKS in qcow2): refused with no key asked for.
# (the key's PBKDF timing fails now and then on a busy machine: tried again,
# and at worst a plain image whose header names LUKS, which is what is read)
for _ in 1 2 3 4 5; do
  qemu-img create -q -f qcow2 --object secret,id=k,data=pw \
    -o encrypt.format=luks,encrypt.key-secret=k,encrypt.iter-time=10 "$DIR/secret.qcow2" 8M \
    2>/dev/null && break
  rm -f "$DIR/secret.qcow2"
done
[ -f "$DIR/secret.qcow2" ] || {
  qemu-img create -q -f qcow2 "$DIR/secret.qcow2" 8M &&
    printf '\0\0\0\2' | dd of="$DIR/secret.qcow2" bs=1 seek=32 conv=notrunc status=none
} || fail "qemu-img create: encrypted qcow2"
own
urun get "$DIR/secret.qcow2"
expect_rc 1 "encrypted qcow2"
said "encrypted" "encrypted qcow2"

# streamOptimized VMDK: read, and refused for writing before the notice.
qemu-img convert -q -O vmdk -o subformat=streamOptimized "$DIR/base.raw" "$DIR/stream.vmdk"
own
cp "$DIR/stream.vmdk" "$DIR/stream.copy"
urun get "$DIR/stream.vmdk"
expect_rc 0 "streamOptimized get"
urun --yes write "$DIR/stream.vmdk" 1
expect_rc 1 "streamOptimized write"
said "only read, never written" "streamOptimized write"
grep -q "read this first" "$WORK/err" && fail "streamOptimized: refused after the notice"
expect_unchanged "$DIR/stream.copy" "$DIR/stream.vmdk" "streamOptimized write"

# No QEMU on PATH.
as_user env PATH=/nonexistent "$K" get "$img" >"$WORK/out" 2>"$WORK/err" </dev/null
rc=$?
expect_rc 1 "no qemu-nbd"
said "install qemu-utils" "no qemu-nbd"

# Killed at the question: its qemu-nbd and socket directory go with it.
on_tty "$WORK/tty" "setpriv --reuid=65534 --regid=65534 --clear-groups -- $K write $img 1" \
  "!alive qemu-nbd >$WORK/during; kill -TERM \$(alive kormelde)" n
[ -s "$WORK/during" ] || fail "kill: no qemu-nbd while the question was shown"
for _ in $(seq 30); do [ -z "$(alive qemu-nbd)" ] && break; sleep 0.1; done
[ -z "$(alive qemu-nbd)" ] || fail "kill: qemu-nbd left running"
[ -z "$(find /tmp -maxdepth 1 -name 'libnbd*' -user 65534)" ] || fail "kill: libnbd socket left in /tmp"
expect_unchanged "$DIR/held.copy" "$img" "kill"

finish
