#!/bin/sh
# Runs a Windows program under Wine, for ctest and for the scripts:
#   wine-run.sh 32|64 PROGRAM [ARGUMENT...]
# 32 runs it under 32-bit Wine in the prefix ~/.wine-vestrix, 64 under 64-bit
# Wine in ~/.wine-vestrix64, unless WINEPREFIX names another (a 64-bit prefix
# serves both); quiet, without the Mono and Gecko installers that a fresh
# prefix would otherwise offer, and without the panel emulator's window
# unless VESTRIX_VIRTUAL_PANEL_WINDOW says otherwise.
# PROGRAM may also be wineboot, or wineserver for the prefix's Wine server.
set -eu
bits="$1"
shift
case "$bits" in
  32)
    # Where the kernel refuses 32-bit programs no Wine can run 32-bit Windows
    # code, and Wine's own advice (to install its 32-bit package) cannot help:
    # say why, touch nothing, and fail.
    if ! why=$(sh "$(dirname "$0")/../scripts/wine32-probe.sh" --kernel); then
      echo "wine-run.sh: 32-bit Windows programs cannot run on this machine: $why." >&2
      echo "  scripts/vm/run.sh runs a command in a virtual machine where they can, for example:" >&2
      echo "  scripts/vm/run.sh --wine32 cmake/wine-run.sh 32 $*" >&2
      exit 126
    fi
    # The project's own prefix is a 32-bit one, as where only 32-bit Wine is
    # installed; the server that 64-bit Wine brings would otherwise make it a
    # 64-bit prefix.
    if [ -z "${WINEPREFIX:-}" ]; then
      WINEPREFIX="${HOME}/.wine-vestrix"
      : "${WINEARCH:=win32}"
      export WINEARCH
    fi
    wine=wine
    wineserver=wineserver
    ;;
  64)
    # The 64-bit loader by its own path: /usr/bin/wine and its companions
    # choose the 32-bit loader whenever one is installed, and that loader
    # cannot start where the kernel refuses 32-bit programs.
    : "${WINEPREFIX:=${HOME}/.wine-vestrix64}"
    wine=/usr/lib/wine/wine64
    wineserver=/usr/lib/wine/wineserver64
    export WINELOADER="$wine"
    ;;
  *)
    echo "wine-run.sh: the first argument is 32 or 64, not '$bits'" >&2
    exit 2
    ;;
esac
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
# The panel emulator's window stays shut: these runs are the tests' and the
# scripts' batch runs, without a display. scripts/window-test.sh and a user
# who wants the window set it to 1.
: "${VESTRIX_VIRTUAL_PANEL_WINDOW:=0}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES VESTRIX_VIRTUAL_PANEL_WINDOW
if [ "${1-}" = wineserver ]; then
  shift
  mkdir -p "$WINEPREFIX"
  exec "$wineserver" "$@"
fi
exec "$wine" "$@"
