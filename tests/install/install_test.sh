#!/usr/bin/env bash
# The install tree and the .deb: the file list, man pages that render
# without warnings, the installed program finding its catalogs wherever the
# prefix is, bash completion, and the package's contents and dependencies;
# the .deb unpacked into a private root (dpkg -x: the machine's own
# packages are never touched), run there and found by man.
#   install_test.sh BUILD_DIR WORK_DIR
set -u
build=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok   $*"; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
(cd "$prefix" && find . -type f | sort) >"$work/files"
if cmp -s "$work/files" "$here/expected-files"; then ok "install tree"; else
  fail "install tree"
  diff "$here/expected-files" "$work/files"
fi

for page in man1/kormelde.1.gz ja/man1/kormelde.1.gz; do
  warnings=$(zcat "$prefix/share/man/$page" | groff -ww -z -k -Tutf8 -man 2>&1)
  [ -z "$warnings" ] && ok "$page renders without warnings" || fail "$page: $warnings"
done
# Japanese source lines join without a space between Japanese words.
spaced=$(zcat "$prefix/share/man/ja/man1/kormelde.1.gz" | groff -k -Tutf8 -man 2>/dev/null |
  sed 's/.\x08//g' | grep -P '[\p{Han}\p{Hiragana}\p{Katakana}ー、。] +[\p{Han}\p{Hiragana}\p{Katakana}]')
[ -z "$spaced" ] && ok "ja man page: no stray spaces" || fail "ja man page: stray spaces: $spaced"

version=$("$prefix/bin/kormelde" --version | head -n1 | cut -d' ' -f1-2)
[ "${version%% *}" = kormelde ] && ok "installed program runs" || fail "installed --version"
for page in man1/kormelde.1.gz ja/man1/kormelde.1.gz; do
  zcat "$prefix/share/man/$page" | head -n1 | grep -qF "\"$version\"" ||
    fail "$page does not name $version"
done
msg=$(LC_ALL=ja_JP.UTF-8 "$prefix/bin/kormelde" bogus 2>&1)
[[ $msg == *不明なコマンドです* ]] && ok "installed program finds its catalog" ||
  fail "installed program in Japanese: $msg"

completions=$(bash -c '. /usr/share/bash-completion/bash_completion
  . "$1"
  COMP_WORDS=(kormelde --sector-size 4096 wr); COMP_CWORD=3; COMP_LINE="kormelde --sector-size 4096 wr"
  COMP_POINT=${#COMP_LINE}; _kormelde; echo "${COMPREPLY[*]}"
  COMP_WORDS=(kormelde --ye); COMP_CWORD=1; COMP_LINE="kormelde --ye"; COMP_POINT=${#COMP_LINE}
  _kormelde; echo "${COMPREPLY[*]}"' - "$prefix/share/bash-completion/completions/kormelde")
[ "$completions" = $'write\n--yes' ] && ok "bash completion" || fail "bash completion: $completions"
# Paths after --root and --backup=, random after write's disk, and the
# disks as list numbers them (from /sys/block, no partitions).
mkdir -p "$work/complete/dir.d" && touch "$work/complete/file.bin"
completions=$(cd "$work/complete" && bash -c '. /usr/share/bash-completion/bash_completion
  . "$1"
  complete() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_LINE=${COMP_LINE// = /=}
    COMP_POINT=${#COMP_LINE}; COMPREPLY=(); _kormelde 2>/dev/null; echo "${COMPREPLY[*]}"; }
  complete kormelde --root di
  complete kormelde --backup = fi
  complete kormelde write 1 ""
  complete kormelde get ""' - "$prefix/share/bash-completion/completions/kormelde")
disks=$(LC_ALL=C "$prefix/bin/kormelde" list 2>/dev/null | awk 'NR > 1 { printf "%s %s ", $1, $2 }')
[ "$completions" = "dir.d
file.bin
random
${disks% }" ] && ok "bash completion of paths, random and disks" ||
  fail "bash completion: $completions; list: $disks"

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null) || fail "cpack"
deb=$(ls "$work"/deb/kormelde_*.deb 2>/dev/null | head -n1)
if [ -z "$deb" ]; then
  fail "no .deb"
else
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print "." substr($6, 6) }' | sed 's|^\./|./|' |
    sort >"$work/deb-files"
  sed 's|^\./|./|' "$here/expected-files" | cmp -s - "$work/deb-files" && ok ".deb contents" || {
    fail ".deb contents"
    diff "$here/expected-files" "$work/deb-files"
  }
  [ "kormelde $(dpkg-deb -f "$deb" Version)" = "$version" ] && ok ".deb version: $version" ||
    fail ".deb version $(dpkg-deb -f "$deb" Version), --version $version"
  if command -v lintian >/dev/null; then
    lintian --pedantic -I "$deb" >"$work/lintian.log" 2>&1
    grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian errors or warnings" || ok "lintian"
  else
    fail "lintian is not installed"
  fi
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libc6* && $depends != *libstdc++* ]] && ok ".deb depends: $depends" ||
    fail ".deb depends: $depends"
  # A program that opens VM images loads libnbd, so depends on it; qemu-utils
  # is recommended.
  if grep -q libnbd.so.0 "$build/kormelde"; then
    [[ $depends == *libnbd0* ]] || fail ".deb depends: no libnbd0 in $depends"
  fi
  [[ $(dpkg-deb -f "$deb" Recommends) == *qemu-utils* ]] && ok ".deb recommends qemu-utils" ||
    fail ".deb recommends: $(dpkg-deb -f "$deb" Recommends)"
  root=$work/root
  if dpkg -x "$deb" "$root"; then
    msg=$(LC_ALL=ja_JP.UTF-8 "$root/usr/bin/kormelde" bogus 2>&1)
    [[ $msg == *不明なコマンドです* ]] && ok "unpacked .deb: program runs, finds its catalog" ||
      fail "unpacked .deb in Japanese: $msg"
    page=$(MANPATH=$root/usr/share/man man -w kormelde 2>&1)
    [ "$page" = "$root/usr/share/man/man1/kormelde.1.gz" ] && ok "man -w: $page" ||
      fail "man -w kormelde: $page"
  else
    fail "dpkg -x"
  fi
  # Nothing runs at install: no maintainer scripts.
  scripts=$(dpkg-deb -I "$deb" | grep -E ' (pre|post)(inst|rm)' || true)
  [ -z "$scripts" ] && ok ".deb has no maintainer scripts" || fail ".deb scripts: $scripts"
fi
[ "$failures" -eq 0 ] && echo "all passed" || exit 1
