#!/bin/sh
# Runs a Windows program under Wine for ctest: quiet, with the project's own
# Wine prefix unless the caller chose one, and without the Mono and Gecko
# installers that a fresh prefix would otherwise offer.
: "${WINEPREFIX:=${HOME}/.wine-vestrix}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
exec wine "$@"
