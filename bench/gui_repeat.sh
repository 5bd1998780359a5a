#!/usr/bin/env bash
# The dialog tests N times in a row each (default 20), no retries: how many
# runs of each passed.   bench/gui_repeat.sh BUILD_DIR [N]
set -u
build=$1 n=${2:-20}
log=$(mktemp)
ctest --test-dir "$build" -R '^gui_(startup|disk_at|disk_pc98)$' --repeat "until-fail:$n" \
  >"$log" 2>&1
rc=$?
for t in gui_startup gui_disk_at gui_disk_pc98; do
  echo "$t: $(grep -c "Test *#[0-9]*: $t \.*  *Passed" "$log") of $n passed" \
    "$(grep -c "Test *#[0-9]*: $t \.*.*\*\*\*Failed" "$log") failed"
done
rm -f "$log"
exit $rc
