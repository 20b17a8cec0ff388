#!/bin/sh
# The demo under Wine against a Windows build, in a Wine session that is
# already running (scripts/with-wine.sh starts one):
#   scripts/wine-demo.sh 32|64 PRESET
# Runs demo/demo.vxs with the host simulator of build/PRESET, its PNG
# snapshots and their text art going to build/demo/PRESET, then once more with the panel
# emulator's window on in a virtual X server (scripts/window-test.sh), whose
# screenshot at the demo's end becomes build/demo/window.png.
set -eu
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
  echo "usage: scripts/wine-demo.sh 32|64 PRESET" >&2
  exit 2
fi
bits="$1" preset="$2"
echo "wine-demo.sh: the demo under $bits-bit Wine against build/$preset, snapshots in build/demo/$preset"
cmake/wine-run.sh "$bits" "build/$preset/hostsim/hostsim.exe" --quiet -o "build/demo/$preset" --art "build/demo/$preset" demo/demo.vxs
echo "wine-demo.sh: the emulator's window in a virtual X server, its last screenshot in build/demo/window.png"
scripts/window-test.sh "$bits" "build/$preset/wine-x11" \
  "build/$preset/hostsim/window_shot.exe" build/demo/window.png demo/demo.vxs
