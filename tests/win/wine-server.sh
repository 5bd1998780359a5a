#!/usr/bin/env bash
# Starts (creating the prefix when missing) or stops the wineserver of a
# test prefix, detached from the caller's pipes so that ctest does not wait
# on Wine's background services.
#   wine-server.sh start|stop ARCH PREFIX
set -eu
action=$1 arch=$2 prefix=$3
export WINEPREFIX=$prefix WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
case $arch in
win32) loader=/usr/lib/wine/wine; export WINEARCH=win32 ;;
win64) loader=/usr/lib/wine/wine64; export WINEARCH=win64 ;;
esac
case $action in
start)
  if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    t0=$(date +%s)
    setsid "$loader" wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver -w
    echo "wine prefix created in $(($(date +%s) - t0)) s: $prefix"
    # Japanese dialog font maps to an installed mincho face.
    setsid "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ 明朝' /t REG_SZ \
      /d 'IPAMincho' /f </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Start the prefix's services now, outside ctest's pipes.
  setsid "$loader" wineboot </dev/null >/dev/null 2>&1 || true
  echo "wineserver running for $prefix"
  ;;
stop)
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  echo "wineserver stopped for $prefix"
  ;;
esac
