# What the tests of the project's scripts share, sourced by each of them
# (tests/scripts/*_test.sh) after it names itself:
#   test_name=NAME
#   . "$(dirname "$0")/harness.sh"
# A test takes the source tree as its one argument, runs commands with `run`,
# checks what they did with `expect`, and ends with `finish`. It gets:
#   $source_dir   the source tree;
#   $tmp          a scratch directory, removed when the test ends;
#   run [-C DIR] COMMAND...
#                 runs COMMAND (in DIR), its standard output to $tmp/out, its
#                 standard error to $tmp/err and its exit status to $status;
#                 `env NAME=VALUE... COMMAND` gives it an environment;
#   expect WHAT CONDITION...
#                 one expectation, a command such as test(1) or grep; a
#                 failed one is reported as WHAT with the last run's output;
#   expect_not WHAT CONDITION...
#                 the same for a condition that must not hold;
#   fail WHAT     reports a failed expectation that the test checked itself;
#   finish        says whether every expectation held, and exits with 0 or 1.
# $tmp/out and $tmp/err are shown with every failure, and so are the files of
# $tmp that the test names in $show (a list of names).
# shellcheck shell=sh disable=SC2034  # what is set here, the sourcing test reads
set -eu
source_dir="${1:?usage: $test_name.sh SOURCE_DIR}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
failures=0
show=""

run() {
  dir=.
  if [ "$1" = -C ]; then
    dir="$2"
    shift 2
  fi
  status=0
  (cd "$dir" && "$@" >"$tmp/out" 2>"$tmp/err") || status=$?
}

expect() {
  what="$1"
  shift
  if ! "$@" >/dev/null 2>&1; then
    fail "$what: failed: $*"
  fi
}

expect_not() {
  what="$1"
  shift
  if "$@" >/dev/null 2>&1; then
    fail "$what: failed: not $*"
  fi
}

fail() {
  echo "$test_name: $1" >&2
  for file in out err $show; do
    case "$file" in
      out) label=stdout ;;
      err) label=stderr ;;
      *) label="$file" ;;
    esac
    if [ -f "$tmp/$file" ]; then
      sed "s/^/  $label: /" "$tmp/$file" >&2
    fi
  done
  failures=$((failures + 1))
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$test_name: $failures expectation(s) failed" >&2
    exit 1
  fi
  echo "$test_name: passed"
}
