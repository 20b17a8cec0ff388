#!/bin/sh
# Sets up what is missing, builds, and runs every test suite: natively, natively
# again under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, and the cross-built suite under Wine against the
# real VESTRIX.DLL.
set -eu
cd "$(dirname "$0")/.."

scripts/setup.sh
. scripts/wine-session.sh

for preset in native native-tsan native-asan win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset native-tsan
ctest --preset native-asan

wine_session_start
trap wine_session_stop EXIT
ctest --preset win32
