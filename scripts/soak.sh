#!/bin/sh
# Soak: runs the built plug-in through many whole sessions with the real icon
# thread and its real pauses, and fails when the process keeps anything of
# them: open files, threads, loaded copies of the vendor library, resident
# memory. Natively against build/native/libvestrix.so; where this machine runs
# 32-bit Windows programs also under 32-bit Wine against the real
# build/win32/VESTRIX.DLL, counting the process's handles (its resident memory
# is not judged there: Wine keeps a few KiB of every load of the emulator, see
# tests/soak/CMakeLists.txt).
#   scripts/soak.sh [--reload] [CYCLES]   (default 200; a cycle takes about a second)
# --reload loads and frees the plug-in for every session, as a host does that
# switches displays. The last line sums up the native run:
#   soak: N cycles, fds A->B, threads A->B, libraries A->B, rss A->B KiB, ...
# Each step's output goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=soak.sh
reload=""
if [ "${1-}" = --reload ]; then
  reload=--reload
  shift
fi
cycles="${1:-200}"
case "$cycles" in
  '' | *[!0-9]* | 0)
    echo "usage: scripts/soak.sh [--reload] [CYCLES]  (CYCLES a positive number, default 200)" >&2
    exit 2
    ;;
esac
. scripts/steps.sh
setup_and_probe

# What the soak needs: the plug-in, the panel emulator as its vendor library,
# and the driver (tests/soak/soak.cpp).
targets="vestrix vestrix_emulator vestrix_soak"
step "configure, preset native" build/logs/configure-native.log cmake --preset native
# shellcheck disable=SC2086  # the target list is meant to split into words
step "build the soak, preset native" build/logs/build-soak-native.log \
  cmake --build --preset native --target $targets

if [ "$wine32_runs" = yes ]; then
  step "configure, preset win32" build/logs/configure-win32.log cmake --preset win32
  # shellcheck disable=SC2086
  step "build the soak, preset win32" build/logs/build-soak-win32.log \
    cmake --build --preset win32 --target $targets
  step "start Wine (32-bit)" build/logs/wine-32.log wine_session_start 32
  step "soak of $cycles cycles under 32-bit Wine against build/win32/VESTRIX.DLL" \
    build/logs/soak-win32.log cmake/wine-run.sh 32 build/win32/vestrix_soak.exe --verbose --no-rss $reload --cycles "$cycles"
  tail -n 1 build/logs/soak-win32.log | sed 's/^/  /'
else
  note_no_wine32 "the soak under 32-bit Wine against the real VESTRIX.DLL, counting its handles" \
    "nothing here; the same driver runs a short soak under 64-bit Wine against the 64-bit test build in the win64 tests (ctest --preset win64 -R soak)"
fi

step "soak of $cycles cycles against build/native/libvestrix.so" build/logs/soak-native.log \
  build/native/vestrix_soak --verbose $reload --cycles "$cycles"
tail -n 1 build/logs/soak-native.log
