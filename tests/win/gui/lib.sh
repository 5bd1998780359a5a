# Shared by the dialog scripts: sourced with ARCH DRIVER STATE WORK set.
#   ARCH    win32 or win64        DRIVER  guidriver.exe
#   STATE   the X server's state  WORK    this test's own directory
set -u
# The scripts handle code page 932 bytes: byte-wise tools here, the Japanese
# locale (ANSI code page 932) only for Wine.
export LC_ALL=C
WINE_LOCALE=(env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=err+all,fixme-all)
. "$(dirname "${BASH_SOURCE[0]}")/../wine-arch.sh"
export DISPLAY
DISPLAY=$(cat "$STATE/display")
rm -rf "$WORK"
mkdir -p "$WORK"
FAILED=0

# Windows path of a host path (Wine's Z: is /).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The compiled texts (code page 932) of TEXTDUMP into $WORK/texts.
load_texts() {
  "${WINE_LOCALE[@]}" "$LOADER" "$1" "$(winpath "$WORK/texts")" </dev/null >/dev/null 2>&1 || {
    echo "textdump failed" >&2
    exit 1
  }
}

# txt NAME: one text as the logs write it.
txt() { awk -F'\t' -v n="$1" '$1 == n { sub(/^[^\t]*\t/, ""); print; f = 1 } END { exit !f }' \
  "$WORK/texts"; }

# drive NAME COMMAND_LINE STEP...: runs the driver, log in $WORK/NAME.log.
drive() {
  local name=$1 line=$2
  shift 2
  rm -f "$WORK/$name.log"
  local t0 t1
  t0=$(date +%s%N)
  "${WINE_LOCALE[@]}" "$LOADER" "$DRIVER" "$(winpath "$WORK/$name.log")" run "$line" "$@" </dev/null \
    >"$WORK/$name.out" 2>&1
  DRIVE_RC=$?
  t1=$(date +%s%N)
  DRIVE_MS=$(((t1 - t0) / 1000000))
}

# check NAME EXPECTED_FILE: the log without its timing lines must match.
check() {
  local name=$1 expected=$2
  if [ "$DRIVE_RC" -ne 0 ] || ! grep -v '^#' "$WORK/$name.log" | cmp -s - "$expected"; then
    echo "FAIL $name (driver exit $DRIVE_RC)"
    diff <(iconv -f CP932 -t UTF-8 "$expected") \
      <(grep -v '^#' "$WORK/$name.log" | iconv -f CP932 -t UTF-8) | head -40
    FAILED=1
  else
    echo "ok   $name (${DRIVE_MS} ms)"
  fi
}

# Program path for a command line, quoted.
program() { printf '"%s"' "$(winpath "$1")"; }

finish() {
  [ "$FAILED" -eq 0 ] && echo "all passed" || echo "some failed"
  exit "$FAILED"
}
