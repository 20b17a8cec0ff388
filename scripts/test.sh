#!/bin/sh
# Sets up what is missing, builds, and runs every test suite: natively, natively
# again under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, and the cross-built suites under Wine: against
# the real VESTRIX.DLL under 32-bit Wine (in a virtual machine where this
# machine's kernel refuses 32-bit programs), and the 64-bit test build under
# 64-bit Wine; the panel page, built to WebAssembly, in Chromium; and, in the
# virtual machine, the tests through the kernel's imon driver with an emulated
# panel on USB/IP. Each step's output goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=test.sh
. scripts/steps.sh
setup_and_probe

# The steps of the workflow presets (CMakePresets.json), taken one by one so
# that each has its line here and its own log, and the tests can wait for the
# Wine session or the virtual machine that they need.
build_step() {
  step "configure, preset $1" "build/logs/configure-$1.log" cmake --preset "$1"
  step "build, preset $1" "build/logs/build-$1.log" cmake --build --preset "$1"
}
# What the virtual machine runs first, so that it can start.
build_step native
build_step win32

# The win32 suites against the real VESTRIX.DLL under 32-bit Wine, and the
# tests through the kernel's imon driver (preset kernel), which need its
# modules and USB/IP: only the virtual machine of scripts/vm has them here.
# The kernel tests also run the real VESTRIX.DLL under 32-bit Wine through the
# driver, so the machine has 32-bit Wine. Where this machine runs 32-bit
# programs, the win32 suites run directly and the kernel tests in the machine;
# where it does not, one boot of the machine serves both. Where neither can
# run the win32 suites, the win32 preset's tests are the checks of the built
# VESTRIX.DLL that need no Wine; its configure step has left the other suites
# out and says so in a skipped test.
#
# The machine runs beside the other builds and the tests on this machine, not
# after them: it is the longest step, and spends much of its time waiting for
# the plug-in's refresh cycles and for Wine. Its tests through the driver come
# last, when the builds here are done. Where the machine runs only those
# (this machine runs 32-bit programs itself), it starts after the builds.
if [ "$vm_runs" = yes ]; then
  vm_prepare_step
  if [ "$wine32_runs" = no ]; then
    background_step "test, presets kernel and win32, under 32-bit Wine in the virtual machine" \
      build/logs/test-vm.log scripts/vm/run.sh --wine32 --timeout 3600 -- \
      scripts/with-wine.sh 32 env VESTRIX_KERNEL_WINE32=1 scripts/ctest-presets.sh win32 kernel
  fi
else
  echo "$script: test, preset kernel: SKIPPED, the virtual machine cannot start here: $vm_why"
fi

for preset in native-tsan native-asan win64 wasm; do
  build_step "$preset"
done

if [ "$vm_runs" = yes ] && [ "$wine32_runs" = yes ]; then
  background_step "test, preset kernel, in the virtual machine" build/logs/test-kernel.log \
    scripts/vm/run.sh --wine32 --timeout 1200 -- \
    scripts/with-wine.sh 32 env VESTRIX_KERNEL_WINE32=1 ctest --preset kernel
fi

ctest_step native
ctest_step native-tsan
ctest_step native-asan
ctest_step wasm
if [ "$wine32_runs" = yes ]; then
  wine32_step "test, preset win32," build/logs/test-win32.log 2400 ctest --preset win32
  ctest_summary win32
elif [ "$vm_runs" = no ]; then
  ctest_step win32
fi
step "start Wine (64-bit)" build/logs/wine-64.log wine_session_start 64
ctest_step win64

if [ "$vm_runs" = yes ]; then
  background_wait
  ctest_summary kernel
  [ "$wine32_runs" = yes ] || ctest_summary win32
fi

echo "$script: the win32 suites ran $(wine32_path)"
if [ "$vm_runs" = yes ]; then
  echo "$script: the tests through the kernel's imon driver ran in the virtual machine of scripts/vm"
else
  echo "$script: the tests through the kernel's imon driver did not run: the virtual machine cannot start here: $vm_why"
fi
if [ "$wine32_runs" = no ] && [ "$vm_runs" = no ]; then
  note_no_wine32 "the Windows suites under 32-bit Wine against the real VESTRIX.DLL (preset win32);
  that DLL's exports, imports and stack handling were still checked from the file" \
    "the same suites from the 64-bit test build under 64-bit Wine (preset win64)"
fi
