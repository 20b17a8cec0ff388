#!/bin/sh
# Sets up what is missing, then builds everything: the native Linux build and
# the Windows DLL (build/win32/VESTRIX.DLL).
set -eu
cd "$(dirname "$0")/.."

scripts/setup.sh
for preset in native win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "build: build/win32/VESTRIX.DLL and build/native/libvestrix.so are ready"
