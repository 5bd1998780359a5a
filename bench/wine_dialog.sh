#!/usr/bin/env bash
# Time from start to the dialog under Wine, and how long the dialog tests
# take, on a built Windows tree:
#   bench/wine_dialog.sh BUILD_DIR [RUNS]
# Per run: program start -> caution notice shown, -> dialog shown after Yes
# (the driver answers at once), and the wall-clock time of the whole wine
# invocation. Then one timed ctest run of the dialog tests.
set -eu
build=$(cd "$1" && pwd) runs=${2:-10}
src=$(cd "$(dirname "$0")/.." && pwd)
gui=$src/tests/win/gui
arch=win32 loader=/usr/lib/wine/wine
if grep -q 'x86_64' "$build/CMakeCache.txt"; then arch=win64 loader=/usr/lib/wine/wine64; fi
prefix=$build/wineprefix-gui state=$build/bench-state
"$gui/gui-env.sh" start "$arch" "$prefix" "$state" >/dev/null
trap '"$gui/gui-env.sh" stop "$arch" "$prefix" "$state" >/dev/null' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
DISPLAY=$(cat "$state/display")
export DISPLAY
win() { printf 'Z:%s' "${1//\//\\}"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
: >"$state/notice.ms"
: >"$state/dialog.ms"
: >"$state/wall.ms"
for _ in $(seq "$runs"); do
  log=$state/run.log
  t0=$(date +%s%N)
  "$loader" "$build/tests/win/gui/guidriver.exe" "$(win "$log")" run \
    "\"$(win "$build/kormelde.exe")\"" box:yes dialog key:escape exit </dev/null >/dev/null 2>&1
  t1=$(date +%s%N)
  awk '/^# box:yes done/ { print $4 }' "$log" >>"$state/notice.ms"
  awk '/^# dialog done/ { print $4 }' "$log" >>"$state/dialog.ms"
  echo $(((t1 - t0) / 1000000)) >>"$state/wall.ms"
done
echo "$arch, $runs runs, median:"
echo "  start -> notice answered: $(median <"$state/notice.ms") ms"
echo "  start -> dialog shown:    $(median <"$state/dialog.ms") ms"
echo "  whole run (wine, driver, program, escape, exit): $(median <"$state/wall.ms") ms"
"$gui/gui-env.sh" stop "$arch" "$prefix" "$state" >/dev/null
trap - EXIT
t0=$(date +%s%N)
ctest --test-dir "$build" -R 'gui_' >"$state/ctest.out"
t1=$(date +%s%N)
echo "ctest -R gui_ (X server and prefix start, start-up, both disks): $(((t1 - t0) / 1000000)) ms"
awk '/Test +#/ { printf "  %s %s s\n", $4, $(NF - 1) }' "$state/ctest.out"
