#!/usr/bin/env bash
# The Windows build's texts are the source's in code page 932. Without Wine:
# every text, compiled natively to code page 932, is found in TEXTDUMP_EXE.
# With Wine: textdump.exe's output decodes (code page 932 -> UTF-8) to the
# same program's compiled natively; without, the test is skipped (77).
#   texts.sh ARCH TEXTDUMP_EXE WORK_DIR
set -eu
export LC_ALL=C
arch=$1 exe=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
src=$here/../../../src/ui
c++ -std=c++17 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP932 -I "$src" -I "$work" \
  "$here/textdump.cpp" -o "$work/textdump.find"
if found=$("$work/textdump.find" --find "$exe"); then
  echo "ok   $found in $(basename "$exe") (code page 932)"
else
  echo "$found"
  echo "FAIL texts not in the binary as code page 932"
  exit 1
fi
if (ARCH=$arch && . "$here/../wine-arch.sh") >/dev/null; then :; else
  # Skipped, not passed: the decode check is the Windows half.
  echo "SKIP: no Wine for $arch: decode check not run"
  exit 77
fi
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
