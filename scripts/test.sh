#!/bin/sh
# Sets up what is missing, builds, and runs every test suite: natively, natively
# again under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, and the cross-built suites under Wine: against
# the real VESTRIX.DLL under 32-bit Wine (in a virtual machine where this
# machine's kernel refuses 32-bit programs), and the 64-bit test build under
# 64-bit Wine; and the panel page, built to WebAssembly, in Chromium. Each
# step's output goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=test.sh
. scripts/steps.sh
setup_and_probe

for preset in native native-tsan native-asan win32 win64 wasm; do
  step "configure, preset $preset" "build/logs/configure-$preset.log" cmake --preset "$preset"
  step "build, preset $preset" "build/logs/build-$preset.log" cmake --build --preset "$preset"
done

ctest_step native
ctest_step native-tsan
ctest_step native-asan
ctest_step wasm

# The win32 suites against the real VESTRIX.DLL under 32-bit Wine: directly
# where this machine runs 32-bit programs, else in the virtual machine of
# scripts/vm32, one session for all of them. Where neither can run them, the
# win32 preset's tests are the checks of the built VESTRIX.DLL that need no
# Wine; its configure step has left the other suites out and says so in a
# skipped test.
if [ "$wine32_runs" = yes ] || [ "$vm32_runs" = yes ]; then
  wine32_step "test, preset win32," build/logs/test-win32.log 2400 ctest --preset win32
  ctest_summary win32
else
  ctest_step win32
fi
step "start Wine (64-bit)" build/logs/wine-64.log wine_session_start 64
ctest_step win64

echo "$script: the win32 suites ran $(wine32_path)"
if [ "$wine32_runs" = no ] && [ "$vm32_runs" = no ]; then
  note_no_wine32 "the Windows suites under 32-bit Wine against the real VESTRIX.DLL (preset win32);
  that DLL's exports, imports and stack handling were still checked from the file" \
    "the same suites from the 64-bit test build under 64-bit Wine (preset win64)"
fi
