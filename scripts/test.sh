#!/bin/sh
# Sets up what is missing, builds, and runs every test suite: natively, natively
# again under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, and the cross-built suites under Wine: against
# the real VESTRIX.DLL under 32-bit Wine where this machine runs 32-bit
# programs, and the 64-bit test build under 64-bit Wine. Each step's output
# goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=test.sh
. scripts/steps.sh
setup_and_probe

for preset in native native-tsan native-asan win32 win64; do
  step "configure, preset $preset" "build/logs/configure-$preset.log" cmake --preset "$preset"
  step "build, preset $preset" "build/logs/build-$preset.log" cmake --build --preset "$preset"
done

ctest_step native
ctest_step native-tsan
ctest_step native-asan

# Where 32-bit programs cannot run, the win32 preset's tests are the checks of
# the built VESTRIX.DLL that need no Wine; its configure step has left the
# other suites out and says so in a skipped test.
if [ "$wine32_runs" = yes ]; then
  step "start Wine (32-bit)" build/logs/wine-32.log wine_session_start 32
fi
ctest_step win32
step "start Wine (64-bit)" build/logs/wine-64.log wine_session_start 64
ctest_step win64

if [ "$wine32_runs" = no ]; then
  note_no_wine32 "the Windows suites under 32-bit Wine against the real VESTRIX.DLL (preset win32);
  that DLL's exports, imports and stack handling were still checked from the file" \
    "the same suites from the 64-bit test build under 64-bit Wine (preset win64)"
fi
