#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz preset for SECONDS each (default
# 60), on its committed seeds; what a target finds goes to
# build/fuzz/tests/fuzz/found/TARGET, a crash to the current directory.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(layout bootrecord container argvector parsers winrefs partuuid)
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j 2 >/dev/null || exit 1
status=0
for t in "${targets[@]}"; do
  found=build/fuzz/tests/fuzz/found/$t
  mkdir -p "$found"
  echo "== fuzz_$t: $seconds s"
  build/fuzz/tests/fuzz/fuzz_$t -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
    "$found" "tests/fuzz/corpus/$t" 2>&1 | grep -E '^stat::number_of_executed_units|ERROR|SUMMARY' ||
    true
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
done
exit $status
