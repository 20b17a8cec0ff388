#!/bin/sh
# End to end under Wine: a sg_vfd.dll of the other width beside the host
# program, which cannot be loaded, and a loadable one in the current
# directory, where anybody could have left it. The plug-in must load neither:
# Init answers "not found", and no library of that name is loaded.
#   planted_library_test.sh 32|64 START_ONCE PLUGIN OTHER_WIDTH_DLL LOADABLE_DLL WORK_DIR
# START_ONCE is vestrix_start_once.exe, PLUGIN the plug-in's path as the
# Windows program sees it; WORK_DIR is made afresh.
set -eu
if [ $# -ne 6 ]; then
  echo "usage: planted_library_test.sh 32|64 START_ONCE PLUGIN OTHER_WIDTH_DLL LOADABLE_DLL WORK_DIR" >&2
  exit 2
fi
wine_run=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh
bits=$1 program=$2 plugin=$3 other=$4 loadable=$5 work=$6
rm -rf "$work"
mkdir -p "$work/host" "$work/current"
cp "$program" "$work/host/host.exe"
cp "$other" "$work/host/sg_vfd.dll"
cp "$loadable" "$work/current/sg_vfd.dll"
cd "$work/current"
output=$(sh "$wine_run" "$bits" "$work/host/host.exe" "$plugin")
echo "$output"
for expected in "message: VESTRIX.DLL Exception: sg_vfd.dll not found!" "vendor library loaded: no"; do
  case "$output" in
    *"$expected"*) ;;
    *)
      echo "planted_library_test.sh: FAILED: expected '$expected'" >&2
      exit 1
      ;;
  esac
done
echo "planted_library_test.sh: neither sg_vfd.dll was loaded"
