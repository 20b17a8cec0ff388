#!/bin/sh
# Sets up what is missing, then builds everything: the native Linux build and
# the Windows DLL (build/win32/VESTRIX.DLL); then runs the demo on the emulated
# panel, natively and under Wine.
set -eu
cd "$(dirname "$0")/.."

scripts/setup.sh
for preset in native win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "build: build/win32/VESTRIX.DLL and build/native/libvestrix.so are ready"

# The demo on the emulated panel: natively in the terminal, then under Wine
# against the real VESTRIX.DLL; PNG snapshots in build/demo/native and win32.
build/native/hostsim/hostsim -o build/demo/native demo/demo.vxs
. scripts/wine-session.sh
wine_session_start
trap wine_session_stop EXIT
wine build/win32/hostsim/hostsim.exe --quiet -o build/demo/win32 demo/demo.vxs
echo "build: demo snapshots are in build/demo/native and build/demo/win32"
