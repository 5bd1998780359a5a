#!/usr/bin/env bash
# The layers of src/: app -> ui -> disk, platform folders above them all.
# Only src/win32 and src/posix include an operating system's headers (each
# its own), every include of ours names its folder, arrows point down, and
# the portable folders have no conditional compilation.
#   layers.sh SRC       checks SRC, prints each violation, exit 1 on any
#   layers.sh --self    plants one violation of each kind in a copy of a
#                       clean tree and expects each to be caught
set -u

allowed() { # allowed FOLDER: folders FOLDER may include from
  case $1 in
  disk) echo "disk" ;;
  ui) echo "ui disk" ;;
  app) echo "app ui disk" ;;
  posix) echo "posix app ui disk" ;;
  win32) echo "win32 app ui disk" ;;
  esac
}
posix_headers='unistd\.h|fcntl\.h|dirent\.h|sys/[a-z_/]+\.h|linux/[a-z_/]+\.h|termios\.h|pthread\.h|dlfcn\.h|poll\.h'
windows_headers='windows\.h|winioctl\.h|winbase\.h|winuser\.h|io\.h|direct\.h'

check() {
  local src=$1 bad=0 file folder line target
  for file in $(cd "$src" && find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | sort); do
    folder=${file%%/*}
    [ -n "$(allowed "$folder")" ] || { echo "$file: not in a layer folder"; bad=1; continue; }
    while IFS= read -r line; do
      if [[ $line =~ ^#include\ \<($posix_headers)\> ]]; then
        [ "$folder" = posix ] || { echo "$file: POSIX header: $line"; bad=1; }
      elif [[ $line =~ ^#include\ \<($windows_headers)\> ]]; then
        [ "$folder" = win32 ] || { echo "$file: Windows header: $line"; bad=1; }
      elif [[ $line =~ ^#include\ \"([^\"]*)\" ]]; then
        target=${BASH_REMATCH[1]}
        if [[ $target != */* ]]; then
          echo "$file: include without its folder: $line"
          bad=1
        elif ! grep -qw "${target%%/*}" <<<"$(allowed "$folder")"; then
          echo "$file: $folder may not include $target"
          bad=1
        fi
      elif [[ $line =~ ^#\ *(if|ifdef|ifndef|elif) ]]; then
        case $folder in posix | win32) ;; *) echo "$file: conditional compilation: $line"; bad=1 ;; esac
      fi
    done <"$src/$file"
  done
  return $bad
}

if [ "${1:-}" != --self ]; then
  check "$1"
  exit
fi

# Self-test on a small clean tree.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
plant() { # plant FILE LINE: a clean tree plus LINE in FILE, which must fail
  rm -rf "$tmp/src"
  mkdir -p "$tmp/src/disk" "$tmp/src/ui" "$tmp/src/posix"
  printf '#include <cstdint>\n' >"$tmp/src/disk/disk.h"
  printf '#include "disk/disk.h"\n' >"$tmp/src/ui/commands.h"
  printf '#include <unistd.h>\n#include "ui/commands.h"\n#ifdef X\n#endif\n' >"$tmp/src/posix/disk.cpp"
  [ -z "$1" ] && { check "$tmp/src" >/dev/null || { echo "FAIL: clean tree refused"; status=1; }; return; }
  mkdir -p "$tmp/src/$(dirname "$1")"
  printf '%s\n' "$2" >>"$tmp/src/$1"
  check "$tmp/src" >/dev/null && { echo "FAIL: not caught: $2 in $1"; status=1; }
  return 0
}
status=0
plant "" ""
plant disk/disk.h '#include <unistd.h>'
plant ui/commands.h '#include <windows.h>'
plant posix/disk.cpp '#include <windows.h>'
plant disk/disk.h '#include "ui/commands.h"'
plant ui/commands.h '#include "posix/disk.h"'
plant ui/commands.h '#include "disk.h"'
plant disk/disk.h '#ifdef _WIN32'
plant tools/x.cpp '#include <cstdio>'
[ $status = 0 ] && echo "all violations caught"
exit $status
