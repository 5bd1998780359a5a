#!/usr/bin/env bash
# The texts in the locale's language: Japanese (today's texts, byte for
# byte) under ja_JP.UTF-8, converted by gettext under ja_JP.eucJP, English
# under C and en_US.UTF-8. The Get report keeps its layout and its values.
. "$(dirname "$0")/lib.sh"

img=$WORK/at.img
"$MKIMAGE" at "$img" --container raw || fail "mkimage"
# under LOCALE ARGS...: run under LOCALE (the test's LC_ALL replaced).
under() {
  local locale=$1
  shift
  LC_ALL=$locale run "$@"
}

under ja_JP.UTF-8 get "$img"
expect_out "$EXPECTED/at-raw.get" "ja_JP.UTF-8 get"
expect_err "ディスク $img の情報取得中。" "ja_JP.UTF-8 progress"
cp "$WORK/out" "$WORK/ja.out"
cp "$WORK/err" "$WORK/ja.err"

if locale -a | grep -qix 'ja_JP.eucjp'; then
  under ja_JP.eucJP get "$img"
  iconv -f EUC-JP -t UTF-8 "$WORK/out" | cmp -s - "$WORK/ja.out" || fail "ja_JP.eucJP: report not EUC-JP"
  iconv -f EUC-JP -t UTF-8 "$WORK/err" | cmp -s - "$WORK/ja.err" || fail "ja_JP.eucJP: messages not EUC-JP"
else
  echo "ja_JP.eucJP not generated: EUC-JP run not made"
fi

for locale in C en_US.UTF-8; do
  under $locale get "$img"
  expect_rc 0 "$locale get"
  expect_err "Reading the information of disk $img." "$locale progress"
  grep -q '^Format	= AT compatible$' "$WORK/out" || fail "$locale: report format line"
  # Same lines, same values; only the keys of the last two lines differ.
  head -n 3 "$WORK/out" | cmp -s - <(head -n 3 "$WORK/ja.out") || fail "$locale: report head"
  [ "$(sed -n 5p "$WORK/out" | cut -f2)" = "$(sed -n 5p "$WORK/ja.out" | cut -f2)" ] ||
    fail "$locale: partition values"
  [ "$(wc -l <"$WORK/out")" = "$(wc -l <"$WORK/ja.out")" ] || fail "$locale: report lines"
  LC_ALL=C grep -q '[^ -~	]' "$WORK/out" "$WORK/err" && fail "$locale: non-ASCII bytes"

  under $locale --no write "$img" 0
  expect_rc 1 "$locale write --no"
  expect_err "Cancelled. Nothing was written." "$locale write --no"
  under $locale bogus
  expect_rc 2 "$locale usage"
  expect_err "kormelde: unknown command: bogus (see kormelde --help)" "$locale usage"
done

# Japanese texts asked for in a character set that cannot show them: English,
# the confirmation included, not question marks.
for env in "LC_MESSAGES=ja_JP.UTF-8 LANG=C" "LANG=ja_JP.UTF-8 LC_CTYPE=C"; do
  # shellcheck disable=SC2086
  env -u LC_ALL $env "$K" --no write "$img" 0 >"$WORK/out" 2>"$WORK/err" </dev/null
  expect_err "Cancelled. Nothing was written." "$env"
  grep -q '??' "$WORK/err" && fail "$env: question marks"
done
finish
