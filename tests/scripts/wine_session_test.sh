#!/bin/sh
# A build or test script whose Wine does not come up must say why and must not
# leave behind a Wine server it started:
#   wine_session_test.sh SOURCE_DIR
# Runs the real scripts/steps.sh and scripts/wine-session.sh from SOURCE_DIR in
# a scratch tree whose cmake/wine-run.sh is a stub: its wineboot fails, and its
# wineserver -p starts a server, finds one running when
# WINE_STUB_SERVER_RUNNING=1, or cannot start one when it is "broken".
set -eu
source_dir="${1:?usage: wine_session_test.sh SOURCE_DIR}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$tmp/scripts" "$tmp/cmake"
cp "$source_dir/scripts/steps.sh" "$source_dir/scripts/wine-session.sh" "$tmp/scripts/"

cat >"$tmp/cmake/wine-run.sh" <<'EOF'
#!/bin/sh
echo "$*" >>"$WINE_STUB_CALLS"
case "$2 ${3-}" in
  "wineserver -p")
    case "${WINE_STUB_SERVER_RUNNING:-0}" in
      1) exit 2 ;; # wineserver's answer when a server already runs
      broken)
        echo "stub-wineserver: cannot execute" >&2
        exit 126
        ;;
    esac
    ;;
  "wineserver -k") exit 0 ;;
  "wineboot -i")
    echo "stub-wineboot: could not load kernel32.dll, status c0000135" >&2
    exit 1
    ;;
  *) exit 99 ;;
esac
EOF
chmod +x "$tmp/cmake/wine-run.sh"

cat >"$tmp/driver.sh" <<'EOF'
set -eu
script=driver
. scripts/steps.sh
step "start Wine (64-bit)" build/logs/wine-64.log wine_session_start 64
echo "driver: went on after Wine failed to start"
EOF

failures=0
fail() {
  echo "wine_session_test: $case_name: $1" >&2
  failures=$((failures + 1))
}

# run_driver CASE SERVER_RUNNING ERROR: runs the driver in a fresh scratch build
# and expects it to fail, showing ERROR.
run_driver() {
  case_name="$1"
  rm -rf "$tmp/build" "$tmp/calls" "$tmp/out" "$tmp/err"
  status=0
  (cd "$tmp" && WINE_STUB_CALLS="$tmp/calls" WINE_STUB_SERVER_RUNNING="$2" \
    sh ./driver.sh >"$tmp/out" 2>"$tmp/err") || status=$?
  if [ "$status" -eq 0 ]; then
    fail "the driver exited with status 0"
  fi
  if ! grep -q "$3" "$tmp/err"; then
    fail "the error '$3' is not on stderr"
  fi
  if ! grep -q "FAILED" "$tmp/err"; then
    fail "no FAILED line on stderr"
  fi
  if grep -q "went on" "$tmp/out"; then
    fail "the driver went on after the failed step"
  fi
}

show() {
  for file in calls out err; do
    echo "--- $file:" >&2
    cat "$tmp/$file" >&2 2>/dev/null || true
  done
}

before=$failures
run_driver "server started by the script" 0 "stub-wineboot: could not load kernel32.dll"
if ! grep -qx "64 wineserver -k" "$tmp/calls"; then
  fail "the server the script started was not stopped (no 'wineserver -k')"
fi
[ "$failures" -eq "$before" ] || show

before=$failures
run_driver "server already running" 1 "stub-wineboot: could not load kernel32.dll"
if grep -q "wineserver -k" "$tmp/calls"; then
  fail "a server that was already running was stopped"
fi
[ "$failures" -eq "$before" ] || show

before=$failures
run_driver "server that cannot start" broken "stub-wineserver: cannot execute"
if grep -q "wineboot" "$tmp/calls"; then
  fail "wineboot ran although no server could be started"
fi
[ "$failures" -eq "$before" ] || show

if [ "$failures" -ne 0 ]; then
  echo "wine_session_test: $failures check(s) failed" >&2
  exit 1
fi
echo "wine_session_test: passed"
