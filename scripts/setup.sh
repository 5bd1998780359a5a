#!/usr/bin/env bash
# Installs what a caller needs on a Debian 12 machine, in layers:
#   setup.sh [linux] [mingw] [wine64] [wine32]      (no argument: all four)
#   linux   the Linux build and its tests: compiler, CMake, GoogleTest,
#           util-linux, e2fsprogs, strace, clang with libFuzzer
#   mingw   the Windows builds (MinGW-w64, both targets)
#   wine64  Wine for x86_64 programs, Xvfb, fonts, the ja_JP.UTF-8 locale
#   wine32  32-bit Wine (adds the i386 architecture); optional: when it
#           cannot be had, setup says so and the i686 Wine tests are skipped
# Idempotent and instant when everything is there. A package index that does
# not refresh is retried, then the lists at hand are used. A package that
# cannot be installed is named in one line with apt's reason; exit 1 when it
# belongs to a required layer.
# APT_RETRY_PAUSE sets the pause between index refreshes (seconds).
set -uo pipefail

layers=("$@")
[ ${#layers[@]} -gt 0 ] || layers=(linux mingw wine64 wine32)

declare -A pkgs=(
  [linux]="cmake ninja-build g++ googletest clang-format fdisk util-linux e2fsprogs strace file clang libclang-rt-14-dev"
  [mingw]="mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix"
  [wine64]="wine wine64 fonts-wine xvfb xdotool x11-utils imagemagick fonts-ipafont fonts-vlgothic locales"
  [wine32]="wine32:i386"
)
declare -A loss=(
  [linux]="the Linux program cannot be built"
  [mingw]="the Windows programs cannot be built"
  [wine64]="the x86_64 Windows tests cannot run"
  [wine32]="i686 Wine tests will be skipped"
)
for l in "${layers[@]}"; do
  [ -n "${pkgs[$l]:-}" ] || { echo "setup: unknown layer '$l' (linux, mingw, wine64, wine32)" >&2; exit 2; }
done

installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q 'install ok installed'; }
has_ja_locale() { locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; }

missing=()
for l in "${layers[@]}"; do
  for p in ${pkgs[$l]}; do installed "$p" || missing+=("$p"); done
done
want_locale=0
[[ " ${layers[*]} " == *" wine64 "* ]] && ! has_ja_locale && want_locale=1
[ ${#missing[@]} -eq 0 ] && [ $want_locale -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
status=0

if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails the refresh for a while.
  refreshed=0
  for try in 1 2 3; do
    if out=$($SUDO apt-get update -qq 2>&1); then
      refreshed=1
      break
    fi
    [ "$try" -lt 3 ] && sleep "${APT_RETRY_PAUSE:-5}"
  done
  if [ $refreshed -eq 0 ]; then
    reason=$(grep -m1 '^E:' <<<"$out" || tail -n1 <<<"$out")
    echo "setup: package index not refreshed (${reason#E: }); installing from the lists at hand" >&2
  fi
  apt_install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" 2>&1 >/dev/null; }
  if ! apt_install "${missing[@]}" >/dev/null; then
    # One by one, to name what really cannot be had.
    for l in "${layers[@]}"; do
      for p in ${pkgs[$l]}; do
        installed "$p" && continue
        if ! out=$(apt_install "$p"); then
          reason=$(grep '^E:' <<<"$out" | tail -n1)
          echo "setup: cannot install $p: ${reason#E: }; ${loss[$l]}" >&2
          [ "$l" = wine32 ] || status=1
        fi
      done
    done
  fi
fi

if [ $want_locale -eq 1 ] && ! has_ja_locale && [ -f /etc/locale.gen ]; then
  echo "setup: generating ja_JP.UTF-8" >&2
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
exit $status
