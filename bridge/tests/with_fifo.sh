#!/bin/sh
# Runs a test program with a FIFO made for it, for the bridge's tests under
# Wine, where a Windows program cannot make one:
#   with_fifo.sh PROGRAM [ARGUMENT...]
# The FIFO's Unix path is in VESTRIX_TEST_FIFO; it goes with its directory when
# the program ends.
set -eu
dir=$(mktemp -d "${TMPDIR:-/tmp}/vestrix-fifo.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkfifo "$dir/panel"
VESTRIX_TEST_FIFO="$dir/panel" "$@"
