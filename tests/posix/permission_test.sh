#!/usr/bin/env bash
# A disk the user may not open: a clean failure that says so, nothing written.
. "$(dirname "$0")/lib.sh"

img=$WORK/private.img
"$MKIMAGE" at "$img"
cp --sparse=always "$img" "$img.before"
chmod 0600 "$img"
run=()
if [ "$(id -u)" -eq 0 ]; then
  chmod 0755 "$WORK"
  if setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
    run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  elif runuser -u nobody -- true 2>/dev/null; then
    run=(runuser -u nobody --)
  else
    skip "cannot run as an unprivileged user (setpriv and runuser both failed)"
  fi
  "${run[@]}" test -x "$DISKTOOL" || skip "$DISKTOOL is not executable by nobody"
else
  chmod 0000 "$img"
fi

out=$("${run[@]}" "$DISKTOOL" "$img" get)
check "read open refused" NO_PERMISSION "$(field error "$out")"
out=$("${run[@]}" "$DISKTOOL" "$img" rewrite 1234ABCD 0BADF00D)
check "rewrite refused" 0 "$(field result "$out")"
check "reason" NO_PERMISSION "$(field error "$out")"
chmod 0600 "$img"
check "unchanged" 0 "$(changed "$img.before" "$img")"
finish
