# Sourced with ARCH set (win32 or win64): sets LOADER, the Wine loader for
# ARCH. When 32-bit Wine cannot run here (not installed, or
# KORMELDE_NO_WINE32 gives the reason), a win32 caller exits 77, ctest's
# skip, naming the reason. A missing 64-bit Wine is a failure, never a skip.
case $ARCH in
win32) LOADER=/usr/lib/wine/wine ;;
win64) LOADER=/usr/lib/wine/wine64 ;;
*)
  echo "unknown Wine arch '$ARCH'" >&2
  exit 2
  ;;
esac
if [ "$ARCH" = win32 ]; then
  if [ -n "${KORMELDE_NO_WINE32:-}" ]; then
    echo "skipped: $KORMELDE_NO_WINE32"
    exit 77
  elif [ ! -x "$LOADER" ]; then
    echo "skipped: 32-bit Wine (wine32:i386) is not installed"
    exit 77
  fi
elif [ ! -x "$LOADER" ]; then
  echo "$LOADER missing: run scripts/setup.sh wine64" >&2
  exit 1
fi
