# Windows fixtures built from nothing Windows-made: hives from mkhive.py and
# .reg text merged with hivexregedit, NTFS volumes from mkntfs on
# partition-sized files, directories by ntfsmkdir, files by ntfscp.
# Needs MKHIVE, NTFSMKDIR and WORK set; skip_without_windows_tools first.

skip_without_windows_tools() {
  local t
  for t in mkntfs ntfscp ntfscat hivexregedit hivexget sfdisk python3; do
    command -v "$t" >/dev/null || {
      echo "SKIP: $t is not installed (scripts/setup.sh linux)"
      exit 77
    }
  done
}

le32_hex() { # le32_hex 12345678 -> 78,56,34,12
  local s=$1
  echo "${s:6:2},${s:4:2},${s:2:2},${s:0:2}"
}

le64_hex() { # le64_hex BYTES -> eight comma-separated bytes
  local v=$1 i out=""
  for i in 0 1 2 3 4 5 6 7; do
    out+=$(printf '%02x' $(((v >> (8 * i)) & 255)))
    [ $i -lt 7 ] && out+=,
  done
  echo "$out"
}

# bcd_device SIG START: an 88-byte partition element of an MBR disk.
bcd_device() {
  echo "hex:00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,06,00,00,00,00,00,00,00,48,00,00,00,00,00,00,00,$(le64_hex "$2"),00,00,00,00,00,00,00,00,00,00,00,00,01,00,00,00,$(le32_hex "$1"),00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00"
}

# mounted_device SIG START: a 12-byte MountedDevices value.
mounted_device() { echo "hex:$(le32_hex "$1"),$(le64_hex "$2")"; }

# make_hive FILE REG: an empty hive with the keys and values of REG merged.
make_hive() {
  python3 "$MKHIVE" "$1" && printf 'Windows Registry Editor Version 5.00\n\n%s\n' "$2" >"$1.reg" &&
    hivexregedit --merge "$1" "$1.reg" || fail "hive $1 not built"
}

# bcd_reg SIG SYSTEM_START WINDOWS_START: a BIOS boot store: the boot
# manager on the system partition, a loader and a resume object on the
# Windows partition, and a device on an offset with no partition.
bcd_reg() {
  local o='\Objects'
  local mgr='{9dea862c-5cdd-4e70-acc1-f32b344d4795}'
  local ldr='{2b0b5a4e-1f3c-11e0-8f1b-806e6f6e6963}'
  local res='{2b0b5a4f-1f3c-11e0-8f1b-806e6f6e6963}'
  cat <<REG
[\\Description]
"KeyName"="BCD00000001"

[$o]

[$o\\$mgr]

[$o\\$mgr\\Elements]

[$o\\$mgr\\Elements\\11000001]
"Element"=$(bcd_device "$1" "$2")

[$o\\$mgr\\Elements\\12000004]
"Element"="Windows Boot Manager"

[$o\\$ldr]

[$o\\$ldr\\Elements]

[$o\\$ldr\\Elements\\11000001]
"Element"=$(bcd_device "$1" "$3")

[$o\\$ldr\\Elements\\12000004]
"Element"="Windows 10"

[$o\\$ldr\\Elements\\21000001]
"Element"=$(bcd_device "$1" "$3")

[$o\\$res]

[$o\\$res\\Elements]

[$o\\$res\\Elements\\11000001]
"Element"=$(bcd_device "$1" 999424)

[$o\\$res\\Elements\\12000004]
"Element"="Windows Resume Application"
REG
}

# system_reg SIG C_START D_START [OTHER_SIG]: MountedDevices with C:, D:,
# C:'s volume name, and a letter on another disk.
system_reg() {
  cat <<REG
[\\MountedDevices]
"\\\\DosDevices\\\\C:"=$(mounted_device "$1" "$2")
"\\\\DosDevices\\\\D:"=$(mounted_device "$1" "$3")
"\\\\??\\\\Volume{6e1d0a2c-0000-0000-0000-100000000000}"=$(mounted_device "$1" "$2")
"\\\\DosDevices\\\\E:"=$(mounted_device "${4:-0badcafe}" 1048576)
REG
}

# ntfs_volume FILE START SECTORS [DIR...]: an NTFS volume file for a
# partition at sector START, with directories.
ntfs_volume() {
  local file=$1 start=$2 sectors=$3
  shift 3
  truncate -s $((sectors * 512)) "$file" &&
    mkntfs -F -Q -q -p "$start" -H 255 -S 63 "$file" >/dev/null 2>&1 &&
    { [ $# -eq 0 ] || "$NTFSMKDIR" "$file" "$@"; } || fail "volume $file not built"
}

put() { ntfscp -f "$1" "$2" "$3" >/dev/null || fail "ntfscp $2 to $3"; }

# make_windows_disk IMG SIG: 64 MiB, BIOS layout: 1 system partition
# (\Boot\BCD), 2 Windows (SYSTEM), 3 extended holding 5, a second Windows
# on a logical partition (SYSTEM). Partition files are kept as IMG.pN.
P1=$((2048 * 512))
P2=$((18432 * 512))
P5=$((69632 * 512))
make_windows_disk() {
  local img=$1 sig=$2
  rm -f "$img"
  truncate -s 64M "$img"
  sfdisk -q "$img" <<TABLE >/dev/null || fail "table of $img"
label: dos
label-id: 0x$sig
start=2048, size=16384, type=7, bootable
start=18432, size=49152, type=7
start=67584, type=5
start=69632, size=16384, type=7
TABLE
  make_hive "$img.bcd" "$(bcd_reg "$sig" $P1 $P2)"
  make_hive "$img.sys2" "$(system_reg "$sig" $P2 $P5)"
  make_hive "$img.sys5" "$(system_reg "$sig" $P5 $P2)"
  ntfs_volume "$img.p1" 2048 16384 Boot
  put "$img.p1" "$img.bcd" /Boot/BCD
  ntfs_volume "$img.p2" 18432 49152 Windows/System32/config
  put "$img.p2" "$img.sys2" /Windows/System32/config/SYSTEM
  ntfs_volume "$img.p5" 69632 16384 WINDOWS/system32/CONFIG
  put "$img.p5" "$img.sys5" /WINDOWS/system32/CONFIG/system
  place_volumes "$img"
}

# place_volumes IMG: the partition files copied into the image.
place_volumes() {
  dd if="$1.p1" of="$1" bs=512 seek=2048 conv=notrunc status=none
  dd if="$1.p2" of="$1" bs=512 seek=18432 conv=notrunc status=none
  dd if="$1.p5" of="$1" bs=512 seek=69632 conv=notrunc status=none
}

# hive_value IMG PART PATH KEY VALUE: a value as hivexget reads it from
# the image's partition, through ntfscat: the check independent of the
# program.
hive_value() {
  local start size
  read -r start size < <(sfdisk -d "$1" | sed -n "s|^$1$2 : start= *\([0-9]*\), size= *\([0-9]*\).*|\1 \2|p")
  dd if="$1" of="$WORK/check.vol" bs=512 skip="$start" count="$size" status=none
  ntfscat "$WORK/check.vol" "$3" >"$WORK/check.hive" 2>/dev/null &&
    hivexget "$WORK/check.hive" "$4" "$5" 2>/dev/null | od -An -tx1 | tr -d ' \n'
}
