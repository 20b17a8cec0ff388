#!/bin/sh
# Runs a Windows program under Wine in a virtual X server, with the panel
# emulator's window on:
#   window-test.sh 32|64 PREFIX PROGRAM [ARGUMENT...]
# The program runs through cmake/wine-run.sh in the Wine prefix PREFIX, made on
# first use: a prefix of its own with Wine's X11 graphics driver, since the
# project's prefixes serve headless runs. The X server (Xvfb, from xvfb-run)
# and the prefix's Wine server last as long as the program; the exit status is
# the program's.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
run="$here/cmake/wine-run.sh"

if [ "${1-}" = --inside-x ]; then
  # Inside xvfb-run, with DISPLAY set.
  shift
  bits="$1"
  shift
  # The Wine server and wineboot get no pipes of ours, which they would hold open.
  "$run" "$bits" wineserver -p </dev/null >/dev/null 2>&1 || true
  status=0
  "$run" "$bits" wineboot -i </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 20 "$WINEPREFIX/wineboot.log" >&2
    echo "window-test.sh: wineboot failed with status $status in $WINEPREFIX" >&2
  else
    "$run" "$bits" "$@" || status=$?
  fi
  # Only this prefix's server, with the programs it runs.
  "$run" "$bits" wineserver -k </dev/null >/dev/null 2>&1 || true
  "$run" "$bits" wineserver -w </dev/null >/dev/null 2>&1 || true
  exit "$status"
fi

if [ $# -lt 3 ]; then
  echo "usage: window-test.sh 32|64 PREFIX PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
bits="$1"
prefix="$2"
if [ -n "${VESTRIX_VM_GUEST:-}" ]; then
  # In the virtual machine of scripts/vm the prefix goes on the guest's
  # tmpfs: on the share that holds the project, Wine starts about four times
  # slower, and the prefix would not outlive the guest anyway.
  prefix="/tmp/window-test/$(printf '%s' "$prefix" | tr / _)"
fi
mkdir -p "$prefix"
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEPREFIX
shift 2
if [ "$bits" = 32 ]; then
  WINEARCH=win32
  export WINEARCH
fi
VESTRIX_VIRTUAL_PANEL_WINDOW=1
export VESTRIX_VIRTUAL_PANEL_WINDOW
for tool in xvfb-run:xvfb xauth:xauth; do
  if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
    echo "window-test.sh: ${tool%%:*} is missing (Debian package ${tool#*:}; scripts/setup.sh installs it)" >&2
    exit 1
  fi
done
# 24-bit colour, so that every colour of the picture reaches the screen unchanged.
exec xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -nolisten tcp" \
  sh "$here/scripts/window-test.sh" --inside-x "$bits" "$@"
