#!/bin/sh
# Builds the API fuzzer (preset fuzz: clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs it on one core for SECONDS (default
# 60), starting from the seed corpus in tests/fuzz/corpus and what earlier runs
# added in build/fuzz/run/corpus. The last line reads
# "fuzz: N calls in S s, 0 failures", N counting the entry-point calls made. On
# a failure the script exits non-zero and names the input that reproduces it.
set -eu
cd "$(dirname "$0")/.."
script=fuzz.sh
. scripts/steps.sh

count_argument seconds 60 "usage: scripts/fuzz.sh [SECONDS]   (whole seconds from 1, default 60)" "$@"
seconds=$count

step "setup: installing what is missing" build/logs/setup.log scripts/setup.sh
step "configure, preset fuzz" build/logs/configure-fuzz.log cmake --preset fuzz
step "build, preset fuzz" build/logs/build-fuzz.log cmake --build --preset fuzz

run=build/fuzz/run
log=build/logs/fuzz-run.log
mkdir -p "$run/corpus" "$run/artifacts"
rm -f "$run/calls"
echo "$script: fuzzing for $seconds s, log in $log"
status=0
# Each input may take 10 s at most: a hang is a failure too.
VESTRIX_FUZZ_CALLS_FILE="$run/calls" build/fuzz/vestrix_fuzz \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$run/artifacts/" "$run/corpus" tests/fuzz/corpus \
  </dev/null >"$log" 2>&1 || status=$?

reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
if [ "$status" -ne 0 ] || [ -n "$reproducer" ] || [ ! -s "$run/calls" ]; then
  tail -n 40 "$log" | sed 's/^/  | /' >&2
  echo "$script: FAILED: the fuzzer exited with status $status; its whole log is $log" >&2
  if [ -n "$reproducer" ]; then
    echo "$script: the input that reproduces it: $reproducer" >&2
    echo "$script: run it again with: build/fuzz/vestrix_fuzz $reproducer" >&2
  fi
  [ "$status" -ne 0 ] || status=1
  exit "$status"
fi

calls=$(head -n 1 "$run/calls")
echo "$script: calls by entry point: $(sed -n '2,$p' "$run/calls" | tr '\n' ' ' | sed 's/ $//')"
taken=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
echo "fuzz: $calls calls in ${taken:-$seconds} s, 0 failures"
