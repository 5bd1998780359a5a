#!/usr/bin/env bash
# Stripped size (at most 64 KiB) and imported DLLs (KERNEL32, USER32,
# ADVAPI32, msvcrt only) of the Windows programs.
#   size.sh STRIP OBJDUMP ARCH EXE...
set -u
strip=$1 objdump=$2 arch=$3
shift 3
status=0
for exe in "$@"; do
  copy=$(mktemp)
  "$strip" -o "$copy" "$exe"
  size=$(stat -c %s "$copy")
  dlls=$("$objdump" -p "$copy" | awk '/DLL Name:/ { print $3 }' | sort -f | tr '\n' ' ')
  rm -f "$copy"
  echo "$(basename "$exe") ($arch): $size bytes stripped; imports: $dlls"
  [ "$size" -le 65536 ] || { echo "FAIL larger than 64 KiB"; status=1; }
  for dll in $dlls; do
    case ${dll^^} in
    KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | MSVCRT.DLL) ;;
    *) echo "FAIL imports $dll"; status=1 ;;
    esac
  done
done
exit $status
