#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine.
# Idempotent: returns at once when everything is already there.
set -euo pipefail

need_pkgs=(cmake ninja-build g++ googletest clang-format fdisk util-linux
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xdotool x11-utils imagemagick
  fonts-ipafont fonts-vlgothic locales file strace e2fsprogs)
need_i386=(wine32:i386)

missing=()
for p in "${need_pkgs[@]}" "${need_i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
locale_ok=1
locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' || locale_ok=0

if [ ${#missing[@]} -eq 0 ] && [ $locale_ok -eq 1 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" "${need_i386[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating ja_JP.UTF-8" >&2
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
