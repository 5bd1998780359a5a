# Helpers of the program's tests: SCRIPT KORMELDE MKIMAGE WORKDIR.
set -u
K=$1
MKIMAGE=$2
WORK=$3
EXPECTED=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/expected
rm -rf "$WORK"
mkdir -p "$WORK"
failures=0
missing=()

# Loop devices the test attached (attach) are detached when it ends, pass
# or fail, interrupted too; at_exit adds a clean-up run before that.
LOOPS=()
EXITS=()
at_exit() { EXITS+=("$1"); }
end_test() {
  local i
  for ((i = ${#EXITS[@]} - 1; i >= 0; i--)); do eval "${EXITS[i]}" >/dev/null 2>&1; done
  for i in "${LOOPS[@]}"; do losetup -d "$i" 2>/dev/null; done
}
trap end_test EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# attach [OPTIONS] FILE: the loop device in $loop, detached with the test.
attach() {
  loop=$(losetup -f --show "$@") || return 1
  LOOPS+=("$loop")
}
can_loop() { [ "$(id -u)" = 0 ] && command -v losetup >/dev/null && losetup -f >/dev/null 2>&1; }

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run ARGS...: runs the program with standard input closed; out, err, rc.
run() {
  "$K" "$@" >"$WORK/out" 2>"$WORK/err" </dev/null
  rc=$?
}

show_err() { sed 's/^/  err: /' "$WORK/err" >&2; }

expect_rc() {
  [ "$rc" = "$1" ] || {
    fail "$2: exit $rc, expected $1"
    show_err
  }
}

# expect_out FILE WHAT: standard output byte for byte.
expect_out() {
  cmp -s "$1" "$WORK/out" || {
    fail "$2: output differs from $(basename "$1")"
    diff "$1" "$WORK/out" | sed 's/^/  /' >&2
  }
}

expect_no_out() {
  [ -s "$WORK/out" ] && fail "$1: unexpected output: $(head -c 200 "$WORK/out")"
  return 0
}

# expect_err LINE WHAT: standard error holds exactly that line.
expect_err() {
  grep -qxF -- "$1" "$WORK/err" || {
    fail "$2: no line '$1' on stderr"
    show_err
  }
}

# Number the last run bound its disk to, from its "ディスク #N = PATH" line.
bound_number() { sed -n 's/^ディスク #\([0-9]*\) = .*/\1/p' "$WORK/err" | head -1; }

# on_tty OUT COMMAND ANSWER...: runs COMMAND on a terminal (script), typing
# each answer once its question's prompt has appeared (what is typed
# before a question is discarded); what it shows goes to OUT. rc as run.
# An ANSWER "!SHELL" is not typed: SHELL runs once the next question is
# shown, before it is answered.
on_tty() {
  local out=$1 command=$2 answer n=0
  shift 2
  : >"$out"
  prompts() {
    local tries
    for ((tries = 0; tries < 100; tries++)); do
      [ "$(grep -o '(y/N) ' "$out" | wc -l)" -ge "$1" ] && return
      sleep 0.05
    done
  }
  for answer in "$@"; do
    if [ "${answer:0:1}" = '!' ]; then
      prompts $((n + 1))
      eval "${answer:1}" >/dev/null 2>&1
      continue
    fi
    n=$((n + 1))
    prompts $n
    printf '%s\n' "$answer"
  done | script -qec "$command" /dev/null >"$out"
  rc=$?
}

expect_unchanged() { cmp -s "$1" "$2" || fail "$3: the image changed"; }

# expect_four_bytes BEFORE AFTER OFFSET WHAT: exactly the four bytes at OFFSET
# differ.
expect_four_bytes() {
  local offsets want
  offsets=$(cmp -l "$1" "$2" | awk '{printf "%d ", $1 - 1}')
  want="$3 $(($3 + 1)) $(($3 + 2)) $(($3 + 3)) "
  [ "$offsets" = "$want" ] || fail "$4: changed bytes at [$offsets], expected [$want]"
}

# The lines the program prints for its texts (a trailing "\n" in a text
# shows as an empty line).
TXT_CANCELLED="中止しました。何も書き込んでいません。"

# needs TOOL...: true when each TOOL can run here (strace: can trace;
# loop: a loop device can be attached). Else the checks that need it are
# left out and the test ends skipped (77), naming it, after the others.
needs() {
  local t ok=0
  for t in "$@"; do
    case $t in
    strace) strace -o /dev/null true >/dev/null 2>&1 ;;
    loop) [ "$(id -u)" = 0 ] && losetup -f >/dev/null 2>&1 ;;
    *) command -v "$t" >/dev/null ;;
    esac || {
      [[ " ${missing[*]} " == *" $t "* ]] || missing+=("$t")
      ok=1
    }
  done
  return $ok
}

# skip WHY: ends the test skipped, unless a check failed already.
skip() {
  echo "SKIP: $*"
  [ "$failures" -eq 0 ] || finish
  exit 77
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
  fi
  [ ${#missing[@]} -eq 0 ] || skip "checks left out, not usable here: ${missing[*]}"
  echo "all passed"
  exit 0
}
