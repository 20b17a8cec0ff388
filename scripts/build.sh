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

# The demo runs under 32-bit Wine against the real VESTRIX.DLL: directly where
# this machine runs 32-bit programs, else in the virtual machine of
# scripts/vm. Where neither can, it runs under 64-bit Wine against the
# 64-bit test build of the same code.
if [ "$wine32_runs" = yes ] || [ "$vm_runs" = yes ]; then
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
# with PNG snapshots in build/demo/native and build/demo/$wine_preset; then the
# emulator's own window in a virtual X server, the demo once more with the
# window on, its screenshot compared with the PNG picture at every snapshot and
# the last one kept as build/demo/window.png.
step "demo, natively" - build/native/hostsim/hostsim -o build/demo/native --art build/demo/native demo/demo.vxs
if [ "$wine_bits" = 32 ]; then
  wine32_step "demo and window screenshot, preset win32," build/logs/demo-win32.log 1800 \
    scripts/wine-demo.sh 32 win32
else
  step "demo and window screenshot under $wine_bits-bit Wine, preset $wine_preset" \
    "build/logs/demo-$wine_preset.log" scripts/with-wine.sh "$wine_bits" scripts/wine-demo.sh "$wine_bits" "$wine_preset"
fi
echo "$script: demo snapshots are in build/demo/native and build/demo/$wine_preset;" \
  "the emulator's window as it showed the demo's end is build/demo/window.png"

# The same script on the same emulated panel gives the same pictures, whichever
# build drew them: the text art of both runs must agree.
step "compare the snapshots of build/demo/$wine_preset with the native ones" - \
  scripts/compare-snapshots.sh build/demo/native "build/demo/$wine_preset"

echo "$script: 32-bit Windows programs ran $(wine32_path)"
if [ "$wine32_runs" = no ] && [ "$vm_runs" = no ]; then
  note_no_wine32 "the demo under 32-bit Wine against the real VESTRIX.DLL" \
    "the demo under 64-bit Wine against the 64-bit test build (build/win64), snapshots in build/demo/win64"
fi
