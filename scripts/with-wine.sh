#!/bin/sh
# Runs a command in a Wine session of the project's own:
#   scripts/with-wine.sh 32|64 COMMAND [ARGUMENT...]
# Starts the Wine server of the project's prefix for 32-bit or 64-bit Wine and
# brings the prefix up to date (see scripts/wine-session.sh), runs the command
# from the top of the source tree, and stops the server again if it started
# it. The exit status is the command's. scripts/vm/run.sh --wine32 runs it in the
# virtual machine, where a prefix is new with every start.
set -eu
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: scripts/with-wine.sh 32|64 COMMAND [ARGUMENT...]" >&2
  exit 2
fi
bits="$1"
shift
. scripts/wine-session.sh
trap wine_session_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
echo "with-wine.sh: starting $bits-bit Wine (its log is build/logs/wineboot-${VESTRIX_VM_GUEST:+vm-}$bits.log)"
wine_session_start "$bits"
status=0
"$@" || status=$?
exit "$status"
