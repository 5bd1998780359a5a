#!/usr/bin/env bash
# The Wine side of the Windows tests, one prefix per build directory.
#   wine-server.sh prefix ARCH PREFIX   create the prefix when missing
#   wine-server.sh start  ARCH PREFIX   prefix, then a persistent wineserver
#                                       and the prefix's services
#   wine-server.sh stop   ARCH PREFIX   stop the wineserver and everything in it
# ARCH is win32 (i686 programs under wine32 in a WINEARCH=win32 prefix) or
# win64 (x86_64 programs under wine64). Everything Wine starts is detached
# from the caller's pipes (setsid, redirected), or ctest would wait on Wine's
# background services. Under ctest a watchdog stops the wineserver when ctest
# goes away without running stop (interrupted runs).
set -eu

usage() {
  echo "usage: wine-server.sh prefix|start|stop win32|win64 PREFIX" >&2
  exit 2
}
[ $# -eq 3 ] || usage
action=$1 arch=$2 prefix=$3 ARCH=$2
case $arch in win32 | win64) ;; *) usage ;; esac
. "$(dirname "$0")/wine-arch.sh"
loader=$LOADER
case $prefix in
/*) ;;
*) prefix=$PWD/$prefix ;;
esac
# One wineserver binary serves both loaders; call it directly, since the
# packaged wrapper forces -p0.
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32
if [ ! -x "$server" ]; then
  echo "wine-server.sh: $server missing; run scripts/setup.sh wine64" >&2
  exit 1
fi

export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
ready=$prefix/.kormelde-ready
watchdog=$prefix/.kormelde-watchdog

detached() { setsid "$@" </dev/null >/dev/null 2>&1 9>&-; }

# The ctest process this script runs under, if any.
ctest_ancestor() {
  local p=$PPID
  while [ "${p:-0}" -gt 1 ]; do
    if [ "$(cat "/proc/$p/comm" 2>/dev/null)" = ctest ]; then
      echo "$p"
      return
    fi
    p=$(sed -n 's/^PPid:[[:space:]]*//p' "/proc/$p/status" 2>/dev/null)
  done
}

stop_server() {
  if [ -f "$watchdog" ]; then
    local pid
    pid=$(cat "$watchdog")
    # Only while that process is still this prefix's watchdog.
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "kormelde-wine-watchdog"; then
      kill "$pid" 2>/dev/null || true
    fi
    rm -f "$watchdog"
  fi
  "$server" -k 2>/dev/null || true
  "$server" -w 2>/dev/null || true
}

# Under a lock, so that two runs on one build directory do not both create.
make_prefix() {
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    create_prefix
  ) 9>"$prefix.lock"
}

create_prefix() {
  if [ -f "$ready" ] && [ "$(cat "$ready")" = "$arch" ]; then return 0; fi
  if [ -f "$prefix/system.reg" ] && ! grep -q "^#arch=$arch\$" "$prefix/system.reg"; then
    echo "wine-server.sh: $prefix is not a $arch prefix; delete it" >&2
    exit 1
  fi
  t0=$(date +%s)
  mkdir -p "$prefix"
  # No Mono or Gecko installers: nothing here needs them, and they would
  # ask with a window.
  WINEDLLOVERRIDES="mscoree,mshtml=" detached "$loader" wineboot --init || true
  "$server" -w 9>&-
  if [ ! -f "$prefix/system.reg" ]; then
    echo "wine-server.sh: wineboot did not create $prefix" >&2
    exit 1
  fi
  # Japanese dialog font maps to an installed mincho face.
  detached "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ 明朝' /t REG_SZ \
    /d 'IPAMincho' /f || true
  "$server" -w 9>&-
  # Caption buttons are drawn in Marlett (fonts-wine), which this Wine finds
  # only in the prefix's own font folder.
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    ln -sf /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/marlett.ttf"
  fi
  echo "$arch" >"$ready"
  echo "wine prefix ($arch) created in $(($(date +%s) - t0)) s: $prefix"
}

case $action in
prefix)
  make_prefix
  ;;
start)
  make_prefix
  stop_server
  detached "$server" -p &
  wait $!
  # The prefix's services, started now and outside the caller's pipes.
  detached "$loader" wineboot || true
  owner=$(ctest_ancestor)
  if [ -n "$owner" ]; then
    setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 5; done; rm -f "$3"; "$2" -k' \
      kormelde-wine-watchdog "$owner" "$server" "$watchdog" </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$watchdog"
  fi
  echo "wineserver running for $prefix"
  ;;
stop)
  stop_server
  echo "wineserver stopped for $prefix"
  ;;
*) usage ;;
esac
