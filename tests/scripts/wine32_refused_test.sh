#!/bin/sh
# On a machine that cannot run 32-bit programs, every 32-bit command says why
# and fails, touching nothing, and the virtual machine's runner refuses what it
# cannot do before it starts anything:
#   wine32_refused_test.sh SOURCE_DIR
# VESTRIX_NO_WINE32=1 makes this machine such a one; HOME is a scratch
# directory, so a Wine prefix made by mistake would show there.
test_name=wine32_refused_test
# shellcheck source-path=SCRIPTDIR source=harness.sh
. "$(dirname "$0")/harness.sh"
mkdir -p "$tmp/home" "$tmp/elsewhere"

# refused NAME STATUS TEXT DIRECTORY COMMAND...: runs the command in DIRECTORY
# and expects exit status STATUS ("nonzero" for any but 0), TEXT on stderr, no
# Wine prefix in HOME and the command not run.
refused() {
  name="$1" want="$2" text="$3" dir="$4"
  shift 4
  rm -f "$tmp/ran"
  run -C "$dir" env HOME="$tmp/home" VESTRIX_NO_WINE32=1 "$@"
  if [ "$want" = nonzero ]; then
    expect "$name: exited with status 0" test "$status" -ne 0
  else
    expect "$name: exited with status $status, not $want" test "$status" -eq "$want"
  fi
  expect "$name: '$text' is not on stderr" grep -q -- "$text" "$tmp/err"
  left=$(ls -A "$tmp/home")
  expect "$name: it left $left in HOME" test -z "$left"
  rm -rf "${tmp:?}/home/"* "$tmp/home/".[!.]* 2>/dev/null || true
  expect "$name: it ran the command" test ! -e "$tmp/ran"
}

s="$source_dir"
refused "wine-run.sh 32 names the reason" 126 "VESTRIX_NO_WINE32 is set" "$s" \
  cmake/wine-run.sh 32 program.exe
refused "wine-run.sh 32 points at the virtual machine" 126 "scripts/vm/run.sh --wine32 cmake/wine-run.sh 32 program.exe" "$s" \
  cmake/wine-run.sh 32 program.exe
refused "with-wine.sh 32 fails before the command" nonzero "VESTRIX_NO_WINE32 is set" "$s" \
  scripts/with-wine.sh 32 touch "$tmp/ran"
refused "the runner honours VESTRIX_NO_VM" 125 "VESTRIX_NO_VM is set" "$s" \
  env VESTRIX_NO_VM=1 scripts/vm/run.sh touch "$tmp/ran"
refused "--check honours VESTRIX_NO_VM" 1 "VESTRIX_NO_VM is set" "$s" \
  env VESTRIX_NO_VM=1 sh -c 'scripts/vm/run.sh --check >&2'
refused "the runner wants a timeout in seconds" 2 "not '1m'" "$s" \
  scripts/vm/run.sh --timeout 1m touch "$tmp/ran"
refused "the runner wants the timeout's value" 2 "needs a number of seconds" "$s" \
  scripts/vm/run.sh --timeout
refused "the runner wants a command" 2 "usage:" "$s" \
  scripts/vm/run.sh --timeout 10
refused "the runner runs inside the project only" 2 "must run inside the project" "$tmp/elsewhere" \
  "$s/scripts/vm/run.sh" touch "$tmp/ran"
finish
