#!/bin/sh
# On a machine that cannot run 32-bit programs, every 32-bit command says why
# and fails, touching nothing, and the virtual machine's runner refuses what it
# cannot do before it starts anything:
#   wine32_refused_test.sh SOURCE_DIR
# VESTRIX_NO_WINE32=1 makes this machine such a one; HOME is a scratch
# directory, so a Wine prefix made by mistake would show there.
set -eu
source_dir="${1:?usage: wine32_refused_test.sh SOURCE_DIR}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home" "$tmp/elsewhere"

failures=0
# expect NAME STATUS TEXT DIRECTORY COMMAND...: runs the command in DIRECTORY
# and expects exit status STATUS ("nonzero" for any but 0), TEXT on stderr, and
# no Wine prefix in HOME.
expect() {
  name="$1" want="$2" text="$3" dir="$4"
  shift 4
  rm -f "$tmp/ran"
  status=0
  (cd "$dir" && HOME="$tmp/home" VESTRIX_NO_WINE32=1 "$@" >"$tmp/out" 2>"$tmp/err") || status=$?
  problem=""
  if [ "$want" = nonzero ]; then
    [ "$status" -ne 0 ] || problem="exited with status 0"
  elif [ "$status" -ne "$want" ]; then
    problem="exited with status $status, not $want"
  fi
  grep -q -- "$text" "$tmp/err" || problem="$problem; '$text' is not on stderr"
  if [ -n "$(ls -A "$tmp/home")" ]; then
    problem="$problem; it left $(ls -A "$tmp/home") in HOME"
    rm -rf "${tmp:?}/home/"* "$tmp/home/".[!.]* 2>/dev/null || true
  fi
  [ ! -e "$tmp/ran" ] || problem="$problem; it ran the command"
  if [ -n "$problem" ]; then
    echo "wine32_refused_test: $name: ${problem#; }" >&2
    sed 's/^/  stderr: /' "$tmp/err" >&2
    failures=$((failures + 1))
  fi
}

s="$source_dir"
expect "wine-run.sh 32 names the reason" 126 "VESTRIX_NO_WINE32 is set" "$s" \
  cmake/wine-run.sh 32 program.exe
expect "wine-run.sh 32 points at the virtual machine" 126 "scripts/vm/run.sh --wine32 cmake/wine-run.sh 32 program.exe" "$s" \
  cmake/wine-run.sh 32 program.exe
expect "with-wine.sh 32 fails before the command" nonzero "VESTRIX_NO_WINE32 is set" "$s" \
  scripts/with-wine.sh 32 touch "$tmp/ran"
expect "the runner honours VESTRIX_NO_VM" 125 "VESTRIX_NO_VM is set" "$s" \
  env VESTRIX_NO_VM=1 scripts/vm/run.sh touch "$tmp/ran"
expect "--check honours VESTRIX_NO_VM" 1 "VESTRIX_NO_VM is set" "$s" \
  env VESTRIX_NO_VM=1 sh -c 'scripts/vm/run.sh --check >&2'
expect "the runner wants a timeout in seconds" 2 "not '1m'" "$s" \
  scripts/vm/run.sh --timeout 1m touch "$tmp/ran"
expect "the runner wants the timeout's value" 2 "needs a number of seconds" "$s" \
  scripts/vm/run.sh --timeout
expect "the runner wants a command" 2 "usage:" "$s" \
  scripts/vm/run.sh --timeout 10
expect "the runner runs inside the project only" 2 "must run inside the project" "$tmp/elsewhere" \
  "$s/scripts/vm/run.sh" touch "$tmp/ran"

if [ "$failures" -ne 0 ]; then
  echo "wine32_refused_test: $failures case(s) failed" >&2
  exit 1
fi
echo "wine32_refused_test: passed"
