#!/usr/bin/env bash
# Runs a Windows test program under Wine: wine-run.sh ARCH PROGRAM [ARGS...]
# ARCH is win32 (wine32 loader) or win64 (wine64 loader, real exit code).
# WINEPREFIX comes from the caller; Japanese locale for code page 932.
set -u
arch=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${KORMELDE_WINE_LANG:-ja_JP.UTF-8}
export LC_ALL=$LANG
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX
case $arch in
win32) loader=/usr/lib/wine/wine ;;
win64) loader=/usr/lib/wine/wine64 ;;
*)
  echo "wine-run.sh: unknown arch $arch" >&2
  exit 2
  ;;
esac
exec "$loader" "$@"
