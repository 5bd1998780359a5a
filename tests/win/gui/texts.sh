#!/usr/bin/env bash
# The Windows build's texts decode (code page 932 -> UTF-8) to the source's:
# textdump.exe under Wine against the same program compiled natively.
#   texts.sh ARCH TEXTDUMP_EXE WORK_DIR
set -eu
export LC_ALL=C
arch=$1 exe=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
src=$here/../../../src/ui
"$here/../wine-run.sh" "$arch" "$exe" "Z:${work//\//\\}\\texts.cp932" </dev/null >/dev/null
c++ -std=c++17 -Wall -Wextra -I "$src" -I "$work" "$here/textdump.cpp" -o "$work/textdump.native"
"$work/textdump.native" "$work/texts.utf8"
iconv -f CP932 -t UTF-8 "$work/texts.cp932" >"$work/texts.decoded"
n=$(wc -l <"$work/texts.utf8")
if cmp -s "$work/texts.decoded" "$work/texts.utf8" && [ "$n" -gt 40 ]; then
  echo "ok   $n texts decode to the source's UTF-8"
else
  diff "$work/texts.utf8" "$work/texts.decoded" | head -20
  echo "FAIL texts differ"
  exit 1
fi
# A text that is not all ASCII must have changed bytes: it was compiled to 932.
if cmp -s "$work/texts.cp932" "$work/texts.utf8"; then
  echo "FAIL the Windows texts are not code page 932"
  exit 1
fi
grep -a '^TXT_BAD_DISK' "$work/texts.cp932" | od -An -tx1 | tr -s ' \n' ' '
echo
