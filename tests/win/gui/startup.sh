#!/usr/bin/env bash
# Start-up under Wine: the caution notice, the dialog's controls as created
# from the template, the ways out of the dialog, and /DEBUG against the
# platform check (the check refuses only when Wine plays Windows 98).
#   startup.sh ARCH GUIDRIVER STATE WORK KORMELDE TEXTDUMP
ARCH=$1 DRIVER=$2 STATE=$3 WORK=$4 EXE=$5 TEXTDUMP=$6
. "$(dirname "$0")/lib.sh"
load_texts "$TEXTDUMP"

notice="box $(txt TXT_NOTICE)"
platform="box $(txt TXT_PLATFORM)"
# The dialog as WM_GETTEXT reads it back: template ids, rectangles and texts,
# the disk number and the new signature as initialised.
{
  echo "dialog $(txt TXT_DLG_CAPTION)"
  echo "control 101 Edit 6,22,40,13 0"
  echo "control 65535 Static 53,24,260,30 $(txt TXT_DLG_DISK_HINT)"
  echo "control 102 Button 6,52,40,13 $(txt TXT_DLG_GET)"
  echo "control 202 Static 53,54,260,17 $(txt TXT_GET_IDLE)"
  echo "control 103 Button 6,79,40,13 $(txt TXT_DLG_ACCESS)"
  echo "control 203 Static 53,79,260,17 $(txt TXT_ACCESS_IDLE)"
  echo "control 104 Edit 6,106,40,13 $(txt TXT_NEWSIG_RESET)"
  echo "control 65535 Static 53,101,260,28 $(txt TXT_DLG_NEWSIG_HINT)"
  echo "control 105 Button 6,135,40,13 $(txt TXT_DLG_WRITE)"
  echo "control 65535 Static 53,139,260,13 $(txt TXT_DLG_WRITE_HINT)"
  echo "control 65535 Static 6,162,308,31 $(txt TXT_DLG_DISCLAIMER)"
  echo "control 65535 Static 6,202,308,41 $(txt TXT_DLG_CAUTION)"
} >"$WORK/dialog.txt"

expect() { # expect NAME LINE... : the expected log, lines or @dialog
  local name=$1
  shift
  for l in "$@"; do
    if [ "$l" = @dialog ]; then cat "$WORK/dialog.txt"; else printf '%s\n' "$l"; fi
  done >"$WORK/$name.expected"
}

run() { # run NAME COMMAND_LINE STEPS... -- EXPECTED...
  local name=$1 line=$2
  shift 2
  local steps=()
  while [ "$1" != -- ]; do steps+=("$1"); shift; done
  shift
  expect "$name" "$@"
  drive "$name" "$line" "${steps[@]}"
  check "$name" "$WORK/$name.expected"
}

P=$(program "$EXE")
run notice_no "$P" box:no exit -- "$notice" "exit 0"
run escape "$P" box:yes dialog key:enter alive key:escape exit -- \
  "$notice" @dialog alive "exit 0"
grep -a '^# \(box:yes\|dialog\) done' "$WORK/escape.log" | sed 's/^# /timing: /'
run close_box "$P" box:yes dialog close exit -- "$notice" @dialog "exit 0"
run quit_command "$P" box:yes dialog command:1 alive command:999 exit -- \
  "$notice" @dialog alive "exit 0"
# A typed disk number is not kept: a new process shows 0 again.
run fresh_fields "$P" box:yes dialog set:101=7 set:104=ABCD text:101 key:escape exit -- \
  "$notice" @dialog "text 101 7" "exit 0"
run reopened "$P" box:yes dialog key:escape exit -- "$notice" @dialog "exit 0"

# Wine as Windows 98 for a copy of the program: the platform check refuses
# unless /DEBUG is given in any case, with a suffix or in quotes.
cp "$EXE" "$WORK/kormelde98.exe"
"${WINE_LOCALE[@]}" "$LOADER" reg add 'HKCU\Software\Wine\AppDefaults\kormelde98.exe' /v Version /t REG_SZ \
  /d win98 /f </dev/null >/dev/null 2>&1
P98=$(program "$WORK/kormelde98.exe")
run w98_refused "$P98" box:yes box:ok exit -- "$notice" "$platform" "exit 0"
run w98_no "$P98 /debug" box:no exit -- "$notice" "exit 0"
# (Log names are numbered: Windows file names do not tell case apart.)
i=0
for option in /debug /DEBUG=1 '"/DEBUG"' 'x /Debug' /DEBUGXYZ "'/debug'"; do
  i=$((i + 1))
  run "w98_option_$i" "$P98 $option" box:yes dialog key:escape exit -- \
    "$notice" @dialog "exit 0"
done
for option in ' /DEBU' ' -DEBUG' ' DEBUG' "$(printf '\t')/DEBUG"; do
  i=$((i + 1))
  run "w98_not_option_$i" "$P98$option" \
    box:yes box:ok exit -- "$notice" "$platform" "exit 0"
done
finish
