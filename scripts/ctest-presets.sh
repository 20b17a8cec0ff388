#!/bin/sh
# Runs the tests of several presets one after the other, each into a log of
# its own, build/logs/test-PRESET.log, and goes on after a preset fails, so
# that one boot of the virtual machine serves them all:
#   scripts/ctest-presets.sh PRESET...
# Prints one line a preset; the exit status is the first failing preset's.
set -eu
cd "$(dirname "$0")/.."
mkdir -p build/logs
first_failure=0
for preset in "$@"; do
  status=0
  ctest --preset "$preset" >"build/logs/test-$preset.log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    echo "ctest-presets.sh: preset $preset passed"
  else
    echo "ctest-presets.sh: preset $preset FAILED with status $status; its log is build/logs/test-$preset.log"
    tail -n 40 "build/logs/test-$preset.log" | sed 's/^/  | /'
    [ "$first_failure" -ne 0 ] || first_failure=$status
  fi
done
exit "$first_failure"
