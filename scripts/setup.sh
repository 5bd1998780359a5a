#!/usr/bin/env bash
# Installs what a caller needs on a Debian 12 machine, in layers:
#   setup.sh [linux] [mingw] [wine64] [wine32]      (no argument: all four)
#   linux   the Linux build, its tests and its package: compiler, CMake,
#           GoogleTest, util-linux, e2fsprogs, strace, clang with libFuzzer,
#           gettext, the man tools, the locales the texts are tested under,
#           libntfs-3g, libhivex and libnbd, qemu-utils (VM images), and for
#           the Windows-store tests ntfs-3g, hivex's tools and mtools
#   mingw   the Windows builds (MinGW-w64, both targets)
#   wine64  Wine for x86_64 programs, Xvfb, fonts
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
  [linux]="cmake ninja-build g++ googletest clang-format fdisk util-linux e2fsprogs strace file
    clang libclang-rt-14-dev gettext locales man-db groff-base dpkg-dev zip bash-completion
    python3 mount ntfs-3g-dev libhivex-dev pkg-config ntfs-3g libhivex-bin libwin-hivex-perl mtools
    libnbd-dev libnbd0 qemu-utils lintian"
  [mingw]="mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix"
  [wine64]="wine wine64 fonts-wine xvfb xdotool x11-utils imagemagick fonts-ipafont fonts-vlgothic"
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
# The locales the tests run under (Wine needs ja_JP.UTF-8 for code page 932).
locales=("ja_JP.UTF-8 UTF-8" "en_US.UTF-8 UTF-8" "ja_JP.EUC-JP EUC-JP")
missing_locales() {
  local have
  have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d '-')
  for l in "${locales[@]}"; do
    local name=${l%% *}
    grep -qx "$(tr 'A-Z' 'a-z' <<<"$name" | tr -d '-')" <<<"$have" || echo "$l"
  done
}

missing=()
for l in "${layers[@]}"; do
  for p in ${pkgs[$l]}; do installed "$p" || missing+=("$p"); done
done
want_locale=0
[ -n "$(missing_locales)" ] && want_locale=1
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

if [ $want_locale -eq 1 ] && [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null; then
  while read -r l; do
    [ -n "$l" ] || continue
    echo "setup: generating ${l%% *}" >&2
    $SUDO sed -i "s/^# *\($l\)\$/\1/" /etc/locale.gen
    grep -qx "$l" /etc/locale.gen || echo "$l" | $SUDO tee -a /etc/locale.gen >/dev/null
  done <<<"$(missing_locales)"
  $SUDO locale-gen >/dev/null
fi
exit $status
