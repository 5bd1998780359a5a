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

finish
