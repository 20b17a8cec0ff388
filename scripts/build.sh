#!/bin/sh
# Sets up what is missing, then builds everything: the native Linux build, the
# Windows DLL (build/win32/VESTRIX.DLL) and its release package
# (build/win32/Vestrix-VERSION-win32.zip); then runs the demo on the emulated
# panel, natively and under Wine. Each step's output goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=build.sh
. scripts/steps.sh
setup_and_probe

# The demo runs under 32-bit Wine against the real VESTRIX.DLL where this
# machine runs 32-bit programs, else under 64-bit Wine against the 64-bit test
# build of the same code.
if [ "$wine32_runs" = yes ]; then
  wine_preset=win32 wine_bits=32
  presets="native win32"
else
  wine_preset=win64 wine_bits=64
  presets="native win32 win64"
fi
for preset in $presets; do
  step "configure, preset $preset" "build/logs/configure-$preset.log" cmake --preset "$preset"
  step "build, preset $preset" "build/logs/build-$preset.log" cmake --build --preset "$preset"
done
step "release package, preset win32" build/logs/package-win32.log \
  cmake --build --preset win32 --target package
echo "$script: build/win32/VESTRIX.DLL and build/native/libvestrix.so are ready," \
  "and the release package in build/win32/ (Vestrix-VERSION-win32.zip)"

# The demo on the emulated panel: natively in the terminal, then under Wine,
# with PNG snapshots in build/demo/native and build/demo/$wine_preset.
step "demo, natively" - build/native/hostsim/hostsim -o build/demo/native demo/demo.vxs
step "start Wine ($wine_bits-bit)" "build/logs/wine-$wine_bits.log" wine_session_start "$wine_bits"
step "demo under $wine_bits-bit Wine, preset $wine_preset" "build/logs/demo-$wine_preset.log" \
  cmake/wine-run.sh "$wine_bits" "build/$wine_preset/hostsim/hostsim.exe" \
  --quiet -o "build/demo/$wine_preset" demo/demo.vxs
echo "$script: demo snapshots are in build/demo/native and build/demo/$wine_preset"

# The emulator's own window, in a virtual X server: the demo once more with the
# window on, its screenshot compared with the PNG picture at every snapshot and
# the last one kept.
step "window screenshot under $wine_bits-bit Wine, preset $wine_preset" \
  "build/logs/window-$wine_preset.log" \
  scripts/window-test.sh "$wine_bits" "build/$wine_preset/wine-x11" \
  "build/$wine_preset/hostsim/window_shot.exe" build/demo/window.png demo/demo.vxs
echo "$script: the emulator's window as it showed the demo's end is build/demo/window.png"

if [ "$wine32_runs" = no ]; then
  note_no_wine32 "the demo under 32-bit Wine against the real VESTRIX.DLL" \
    "the demo under 64-bit Wine against the 64-bit test build (build/win64), snapshots in build/demo/win64"
fi
