#!/usr/bin/env bash
# The dialog tests' own X server and Wine prefix.
#   gui-env.sh start|stop ARCH PREFIX STATE_DIR
# start: creates the prefix when missing (without a display, so that Wine's
# first-run windows cannot wait for input), starts Xvfb on a free display,
# then the prefix's wineserver and services with that display, detached from
# the caller's pipes. STATE_DIR/display holds the display for the tests.
set -eu
action=$1 arch=$2 prefix=$3 state=$4 ARCH=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine-arch.sh"
server=$here/../wine-server.sh
mkdir -p "$state"

case $action in
start)
  if [ ! -f "$prefix/system.reg" ]; then
    env -u DISPLAY "$server" start "$arch" "$prefix"
    # One Wine desktop window holds every window: Wine draws the frames, and
    # no window waits for a window manager that is not there.
    reg() { WINEPREFIX=$prefix WINEDEBUG=-all "$LOADER" reg add "$@" /f </dev/null >/dev/null 2>&1; }
    reg 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default
    reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768
    env -u DISPLAY "$server" stop "$arch" "$prefix" >/dev/null
  fi
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    kill "$(cat "$state/xvfb.pid")" || true
  fi
  rm -f "$state/display" "$state/display.fd" "$state/xvfb.pid"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display.fd" \
    </dev/null >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  # Xvfb writes the display number and a line feed once it accepts clients.
  number=
  for _ in $(seq 100); do
    number=$(sed -n 's/^\([0-9][0-9]*\)$/\1/p' "$state/display.fd" 2>/dev/null)
    [ -n "$number" ] && break
    sleep 0.1
  done
  [ -n "$number" ] || { echo "Xvfb did not start" >&2; exit 1; }
  echo ":$number" >"$state/display"
  DISPLAY=$(cat "$state/display") "$server" start "$arch" "$prefix"
  echo "Xvfb on $(cat "$state/display")"
  ;;
stop)
  "$server" stop "$arch" "$prefix"
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display"
  fi
  ;;
esac
