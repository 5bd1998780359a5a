#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh ARCH PROGRAM [ARGS...]
# ARCH is win32 (wine32 loader) or win64 (wine64 loader, real exit code).
# WINEPREFIX comes from the caller; the prefix is created when missing.
# Japanese locale, so that the ANSI code page is 932.
set -u
if [ $# -lt 2 ]; then
  echo "usage: wine-run.sh win32|win64 PROGRAM [ARGS...]" >&2
  exit 2
fi
arch=$1 ARCH=$1
shift
. "$(dirname "$0")/wine-arch.sh"
loader=$LOADER
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${KORMELDE_WINE_LANG:-ja_JP.UTF-8}
export LC_ALL=$LANG
if [ ! -f "$WINEPREFIX/.kormelde-ready" ]; then
  "$(dirname "$0")/wine-server.sh" prefix "$arch" "$WINEPREFIX" >&2 || exit 1
fi
exec "$loader" "$@"
