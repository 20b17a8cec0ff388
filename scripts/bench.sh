#!/bin/sh
# Benchmarks: builds tests/bench in the native preset (RelWithDebInfo), runs
# each benchmark several times and writes the medians, with the machine they
# ran on, into docs/PERFORMANCE.md. Takes about a minute.
#   scripts/bench.sh
# Each step's output goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=bench.sh
. scripts/steps.sh
repetitions=5

step "setup: installing what is missing" build/logs/setup.log scripts/setup.sh
step "configure, preset native" build/logs/configure-native.log cmake --preset native
step "build the benchmarks, preset native" build/logs/build-bench-native.log \
  cmake --build --preset native --target vestrix_bench
if [ ! -x build/native/vestrix_bench ]; then
  echo "$script: FAILED: build/native/vestrix_bench was not built; is Google Benchmark (libbenchmark-dev) installed?" >&2
  exit 1
fi
mkdir -p build/bench
step "run the benchmarks ($repetitions times each)" build/logs/bench.log \
  build/native/vestrix_bench --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out=build/bench/results.json --benchmark_out_format=json

# write_report: the table and the machine, from the results and the compiler
# that built the benchmarks.
write_report() {
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/native/CMakeCache.txt)
  python3 tests/bench/report.py build/bench/results.json "$compiler" "$repetitions" \
    >build/bench/PERFORMANCE.md
  mv build/bench/PERFORMANCE.md docs/PERFORMANCE.md
}
step "write docs/PERFORMANCE.md" build/logs/bench-report.log write_report
sed -n '/^| Benchmark/,/^$/p' docs/PERFORMANCE.md
echo "$script: the table is in docs/PERFORMANCE.md"
