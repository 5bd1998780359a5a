#!/usr/bin/env bash
# The resources linked into kormelde.exe: the classic KORMELDE template with
# every control, the one-image 16-colour KORMICO icon (the committed file
# is what make_icon draws) and the administrator manifest. Without Wine:
# windres reads the program's resources back, and make_icon runs natively.
#   resources.sh ARCH GUIDRIVER KORMELDE MAKE_ICON WORK_DIR WINDRES RC_OBJECT
set -u
export LC_ALL=C
arch=$1 driver=$2 exe=$3 make_icon=$4 work=$5 windres=$6 rc_object=$7
here=$(cd "$(dirname "$0")" && pwd)
run() { "$here/../wine-run.sh" "$arch" "$@" </dev/null >/dev/null; }
win() { printf 'Z:%s' "${1//\//\\}"; }
status=0
ok() { echo "ok   $1"; }
fail() { echo "FAIL $1"; status=1; }

"$windres" -i "$exe" -O rc >"$work/linked.rc" && "$windres" -i "$rc_object" -O rc >"$work/compiled.rc"
if cmp -s "$work/linked.rc" "$work/compiled.rc"; then
  ok "resources in $(basename "$exe") are res/kormelde.rc's"
else
  fail "resources in $(basename "$exe") differ from res/kormelde.rc's"
fi
controls=$(grep -c '^  CONTROL ' "$work/linked.rc")
if grep -q '^"KORMELDE" DIALOG 20, 40, 318, 248$' "$work/linked.rc" &&
  grep -q '^STYLE 0xcf0040$' "$work/linked.rc" && [ "$controls" -eq 12 ] &&
  grep -q '^"KORMICO" 14 ' "$work/linked.rc" && grep -q 'Has 1 elements' "$work/linked.rc"; then
  ok "windres reads the classic template, 12 controls, one icon image"
else
  fail "template or icon group as windres reads them"
fi
if grep -aq 'level="requireAdministrator"' "$exe" && ! grep -aq 'Common-Controls' "$exe"; then
  ok "manifest asks for administrator, no Common Controls 6"
else
  fail "manifest in the binary"
fi
c++ -std=c++17 -O2 "$here/../../../res/make_icon.cpp" -o "$work/make_icon.native" &&
  "$work/make_icon.native" "$work/kormico.native.ico"
if cmp -s "$work/kormico.native.ico" "$here/../../../res/kormico.ico"; then
  ok "res/kormico.ico is what make_icon draws (native)"
else
  fail "res/kormico.ico differs from native make_icon's"
fi
if (ARCH=$arch && . "$here/../wine-arch.sh") >/dev/null; then :; else
  # Skipped, not passed, once the checks without Wine passed.
  echo "SKIP: no Wine for $arch: template not loaded"
  [ "$status" = 0 ] && exit 77
  exit $status
fi
log=$work/resources.log
rm -f "$log"
run "$driver" "$(win "$log")" template "$(win "$exe")"
# Texts as UTF-8, straight from the source.
txt() { sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$here/../../../src/ui/texts.h" |
  sed 's/\\042/"/g'; }
hint() { # a multi-line macro of texts.h, joined
  awk -v n="$1" '$0 ~ "^#define " n "( |$)" { on = 1; next } on { print; if ($0 !~ /\\$/) exit }' \
    "$here/../../../src/ui/texts.h" | sed 's/^ *"//; s/" *\\\?$//' | tr -d '\n'
}
{
  echo "dialog style 00CF0040 exstyle 00000000 at 20,40 size 318,248 controls 12"
  echo "menu '' class ''"
  echo "caption $(txt TXT_DLG_CAPTION)"
  echo "font 10 $(txt TXT_DLG_FONT)"
  echo "control 101 EDIT 50810080 00000000 6,22,40,13 0"
  echo "control 65535 STATIC 50000000 00000000 53,24,260,30 $(hint TXT_DLG_DISK_HINT)"
  echo "control 102 BUTTON 50010000 00000000 6,52,40,13 Get"
  echo "control 202 STATIC 50000000 00000000 53,54,260,17 $(txt TXT_GET_IDLE)"
  echo "control 103 BUTTON 50010000 00000000 6,79,40,13 Access"
  echo "control 203 STATIC 50000000 00000000 53,79,260,17 $(txt TXT_ACCESS_IDLE)"
  echo "control 104 EDIT 50810080 00000000 6,106,40,13 0"
  echo "control 65535 STATIC 50000000 00000000 53,101,260,28 $(hint TXT_DLG_NEWSIG_HINT)"
  echo "control 105 BUTTON 50010000 00000000 6,135,40,13 Write"
  echo "control 65535 STATIC 50000000 00000000 53,139,260,13 $(txt TXT_DLG_WRITE_HINT)"
  echo "control 65535 STATIC 50000001 00000000 6,162,308,31 $(hint TXT_DLG_DISCLAIMER)"
  echo "control 65535 STATIC 50000001 00000000 6,202,308,41 $(hint TXT_DLG_CAUTION)"
  echo "icon images 1"
  echo "icon image 32x32 colours 16 bits 4"
  echo "icon bitmap 32x32 bits 4"
} >"$work/resources.expected"
if grep -v '^manifest ' "$log" | cmp -s - "$work/resources.expected"; then
  echo "ok   template, icon group"
else
  diff "$work/resources.expected" <(grep -v '^manifest ' "$log")
  echo "FAIL template or icon"
  status=1
fi
manifest=$(grep '^manifest ' "$log")
if [[ $manifest == *'level="requireAdministrator"'* && $manifest != *Common-Controls* ]]; then
  echo "ok   manifest asks for administrator, no Common Controls 6"
else
  echo "FAIL manifest: $manifest"
  status=1
fi
run "$make_icon" "$(win "$work/kormico.ico")"
if cmp "$work/kormico.ico" "$here/../../../res/kormico.ico"; then
  echo "ok   res/kormico.ico is what make_icon draws"
else
  echo "FAIL res/kormico.ico differs from make_icon's"
  status=1
fi
exit $status
