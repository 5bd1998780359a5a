#!/usr/bin/env bash
# Screenshots of the caution notice and of the dialog under Wine and Xvfb,
# for the documentation.
#   screenshots.sh BUILD_DIR OUT_DIR      (a built win32 or win64 tree)
set -eu
build=$(cd "$1" && pwd) out=$2
here=$(cd "$(dirname "$0")" && pwd)
arch=win32
grep -q 'x86_64' "$build/CMakeCache.txt" && arch=win64
prefix=$build/wineprefix-gui state=$build/screenshots
mkdir -p "$out" "$state"
"$here/gui-env.sh" start "$arch" "$prefix" "$state" >/dev/null
trap '"$here/gui-env.sh" stop "$arch" "$prefix" "$state" >/dev/null' EXIT
export DISPLAY WINEPREFIX=$prefix WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
DISPLAY=$(cat "$state/display")
ARCH=$arch . "$here/../wine-arch.sh"
loader=$LOADER
win() { printf 'Z:%s' "${1//\//\\}"; }

# Each sync point: wait for the driver's marker, shoot, let it go on.
shoot() {
  local marker=$state/$1.wait
  for _ in $(seq 300); do
    [ -e "$marker" ] && break
    sleep 0.1
  done
  sleep 0.5
  import -display "$DISPLAY" -window root "$state/$1.full.png"
  convert "$state/$1.full.png" -trim +repage "$out/$1.png"
  rm -f "$marker"
}
"$loader" "$build/tests/win/gui/guidriver.exe" "$(win "$state/shots.log")" run \
  "\"$(win "$build/kormelde.exe")\"" see "sync:$(win "$state/notice.wait")" box:yes dialog \
  "sync:$(win "$state/dialog.wait")" key:escape exit </dev/null >/dev/null 2>&1 &
driver=$!
shoot notice
shoot dialog
wait $driver
echo "wrote $out/notice.png and $out/dialog.png"
