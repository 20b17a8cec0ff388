#!/bin/sh
# Soak: runs the built plug-in through many whole sessions with the real icon
# thread and its real pauses, and fails when the process keeps anything of
# them: open files, threads, loaded copies of the vendor library, resident
# memory. Natively against build/native/libvestrix.so; also under 32-bit Wine
# against the real build/win32/VESTRIX.DLL (in the virtual machine of
# scripts/vm where this machine's kernel refuses 32-bit programs), counting
# the process's handles (its resident memory is not judged there: Wine keeps a
# few KiB of every load of the emulator, see tests/soak/CMakeLists.txt).
#   scripts/soak.sh [--reload] [--bridge] [CYCLES]   (default 200; a cycle takes about a second)
# --reload loads and frees the plug-in for every session, as a host does that
# switches displays. --bridge makes the vendor library the bridge to a real
# panel (bridge/), writing to /dev/null, instead of the panel emulator; the
# plug-in loads and frees it for every session. The last line sums up the
# native run:
#   soak: N cycles, fds A->B, threads A->B, libraries A->B, rss A->B KiB, ...
# When every run passes, the last lines go into docs/RELIABILITY.md with the
# date, commit and machine. Each step's output goes to build/logs/.
set -eu
cd "$(dirname "$0")/.."
script=soak.sh
reload=""
bridge=""
while [ "${1-}" = --reload ] || [ "${1-}" = --bridge ]; do
  case "$1" in
    --reload) reload=--reload ;;
    --bridge) bridge=--bridge ;;
  esac
  shift
done
. scripts/steps.sh
count_argument cycles 200 "usage: scripts/soak.sh [--reload] [--bridge] [CYCLES]  (a whole number from 1, default 200)" "$@"
cycles=$count
setup_and_probe

# What the soak needs: the plug-in, the panel emulator or the bridge as its
# vendor library, and the driver (tests/soak/soak.cpp).
targets="vestrix vestrix_emulator vestrix_bridge vestrix_soak"
# With the bridge: its writes go to /dev/null, natively as under Wine.
against=""
[ -z "$bridge" ] || against="--bridge /dev/null"
options="${reload:+$reload }${bridge:+$bridge }"
step "configure, preset native" build/logs/configure-native.log cmake --preset native
# shellcheck disable=SC2086  # the target list is meant to split into words
step "build the soak, preset native" build/logs/build-soak-native.log \
  cmake --build --preset native --target $targets

# The 32-bit soak under 32-bit Wine: directly, or in the virtual machine of
# scripts/vm where this machine's kernel refuses 32-bit programs.
if [ "$wine32_runs" = yes ] || [ "$vm_runs" = yes ]; then
  step "configure, preset win32" build/logs/configure-win32.log cmake --preset win32
  # shellcheck disable=SC2086
  step "build the soak, preset win32" build/logs/build-soak-win32.log \
    cmake --build --preset win32 --target $targets
  # shellcheck disable=SC2086  # $reload and $against are meant to split
  wine32_step "soak of $cycles cycles against build/win32/VESTRIX.DLL${bridge:+ and the bridge}" \
    build/logs/soak-win32.log $((1800 + cycles * 30)) cmake/wine-run.sh 32 build/win32/vestrix_soak.exe \
    --verbose --no-rss $reload $against --cycles "$cycles"
  tail -n 1 build/logs/soak-win32.log | sed 's/^/  /'
  echo "$script: the 32-bit soak ran $(wine32_path)"
else
  note_no_wine32 "the soak under 32-bit Wine against the real VESTRIX.DLL, counting its handles" \
    "nothing here; the same driver runs a short soak under 64-bit Wine against the 64-bit test build in the win64 tests (ctest --preset win64 -R soak)"
fi

# shellcheck disable=SC2086  # $reload and $against are meant to split
step "soak of $cycles cycles against build/native/libvestrix.so${bridge:+ and the bridge}" \
  build/logs/soak-native.log build/native/vestrix_soak --verbose $reload $against --cycles "$cycles"
tail -n 1 build/logs/soak-native.log

# The runs' last lines, as arguments of the figure writer.
set -- --row "\`scripts/soak.sh $options$cycles\`, natively" "$(tail -n 1 build/logs/soak-native.log)"
if [ "$wine32_runs" = yes ]; then
  set -- "$@" --wine --row "\`scripts/soak.sh $options$cycles\`, under 32-bit Wine against \`VESTRIX.DLL\`" \
    "$(tail -n 1 build/logs/soak-win32.log)"
elif [ "$vm_runs" = yes ]; then
  set -- "$@" --wine --row "\`scripts/soak.sh $options$cycles\`, under 32-bit Wine in the virtual machine against \`VESTRIX.DLL\`" \
    "$(tail -n 1 build/logs/soak-win32.log)"
else
  set -- "$@" --not-run "\`scripts/soak.sh $options$cycles\`, under 32-bit Wine against \`VESTRIX.DLL\`" \
    "$wine32_why; the virtual machine: $vm_why"
fi
step "write the figures into docs/RELIABILITY.md" build/logs/soak-figures.log \
  python3 tools/doc_figures.py --page docs/RELIABILITY.md --name "soak${reload:+-reload}${bridge:+-bridge}" --by scripts/soak.sh "$@"
