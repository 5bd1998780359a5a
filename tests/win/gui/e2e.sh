#!/usr/bin/env bash
# End to end under Wine on a disk image mapped as \\.\PHYSICALDRIVEn: Get
# shows the report, Write 56FC78DE asks [old] -> [new], rewrites, shows the
# success text, No to the shutdown keeps the dialog; then the peers read the
# new signature and exactly its four bytes changed.
#   e2e.sh ARCH GUIDRIVER STATE WORK KORMELDE_TEST TEXTDUMP MKIMAGE at|pc98
ARCH=$1 DRIVER=$2 STATE=$3 WORK=$4 EXE=$5 TEXTDUMP=$6 MKIMAGE=$7 KIND=$8
. "$(dirname "$0")/lib.sh"
load_texts "$TEXTDUMP"
: "${WINEPREFIX:?}"

# printf on a logged text: its backslashes (escapes, and 0x5C trail bytes of
# code page 932) are kept as they are.
fmt() {
  local f=$1
  shift
  printf "${f//\\/\\\\}" "$@"
}

image=$WORK/disk.img
case $KIND in
at)
  disk=1
  truncate -s 64M "$image"
  sfdisk -q --no-reread --no-tell-kernel "$image" <<'SFDISK' >/dev/null
label: dos
label-id: 0x1234abcd
start=2048, size=16M, type=7
size=24M, type=83
type=5
size=8M, type=83
SFDISK
  offset=$((0x1B8))
  report="NTSig\\t= 1234ABCD\\nPSiz\\t= 8\\nDISK\\t= 63MB\\n$(txt TXT_REPORT_AT)$(txt TXT_REPORT_PARTITIONS)16MB(#1) 24MB(#2) 23MB(#3) 8MB(#5) "
  ;;
pc98)
  disk=2
  # mkimage's PC-9821 disk: 8 heads x 17 sectors, two partitions, the
  # signature in sector 16.
  "${WINE_LOCALE[@]}" "$LOADER" "$MKIMAGE" pc98 "$(winpath "$image")" --sig 1234ABCD \
    </dev/null >/dev/null 2>&1 || { echo "mkimage failed"; exit 1; }
  offset=$((0x2000))
  report="NTSig\\t= 1234ABCD\\nPSiz\\t= 16\\nDISK\\t= 64MB\\n$(txt TXT_REPORT_PC98)$(txt TXT_REPORT_PARTITIONS)26MB(#1) 38MB(#2) "
  ;;
esac
cp "$image" "$WORK/before.img"
link=$WINEPREFIX/dosdevices/physicaldrive$disk
cleanup() { rm -f "$link"; }
trap cleanup EXIT
ln -sfn "$image" "$link"

notice="box $(txt TXT_NOTICE)"
confirm="box $(fmt "$(txt TXT_WRITE_CONFIRM)" "$disk" 0x1234ABCD 0x56FC78DE)"
success="box $(fmt "$(txt TXT_WRITE_SUCCESS)" "$disk" 0x1234ABCD 0x56FC78DE)"

before=(box:yes dialog)
after=(text:202 set:104=56FC78DE click:105 box:yes box:no alive)
if [ "$KIND" = at ]; then
  # Get by drive name: the volume's first extent is on this disk. The report
  # read after the write shows the new signature.
  export KORMELDE_TEST_EXTENT_DISK=$disk
  after+=(set:101=c: click:102 box:yes box:ok text:101)
  drive_lines=("box $(fmt "$(txt TXT_DRIVE_ASK)" c "$disk")"
    "box ${report/1234ABCD/56FC78DE}" "text 101 $disk")
else
  # Get by drive name where the volume lies on no disk.
  before+=(set:101=C: click:102 box:ok)
  drive_lines=()
fi
drive write "$(program "$EXE")" "${before[@]}" set:101=$disk click:102 box:ok "${after[@]}" \
  key:escape exit
{
  echo "$notice"
  grep '^dialog \|^control ' "$WORK/write.log"
  [ "$KIND" = pc98 ] && echo "box $(fmt "$(txt TXT_DRIVE_FAILED)" C)"
  echo "box $report"
  echo "text 202 $(txt TXT_GET_IDLE)"
  echo "$confirm"
  echo "$success"
  echo alive
  for line in "${drive_lines[@]}"; do echo "$line"; done
  echo "exit 0"
} >"$WORK/write.expected"
check write "$WORK/write.expected"
echo "end to end ($KIND) took $DRIVE_MS ms"

# The peers: sfdisk reads the new id; only the signature's four bytes moved.
if [ "$KIND" = at ]; then
  id=$(sfdisk --disk-id "$image")
  [ "$id" = 0x56fc78de ] && echo "ok   sfdisk --disk-id $id" || {
    echo "FAIL sfdisk --disk-id $id"
    FAILED=1
  }
fi
changed=$(cmp -l "$WORK/before.img" "$image" | awk '{ printf "%d:%s:%s ", $1 - 1, $2, $3 }')
# cmp -l: 1-based offset, old and new byte in octal (CD AB 34 12 -> DE 78 FC 56).
want="$offset:315:336 $((offset + 1)):253:170 $((offset + 2)):64:374 $((offset + 3)):22:126 "
[ "$changed" = "$want" ] && echo "ok   cmp: $changed" || {
  echo "FAIL cmp: got [$changed] want [$want]"
  FAILED=1
}
finish
