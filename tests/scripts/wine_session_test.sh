#!/bin/sh
# A build or test script whose Wine does not come up must say why and must not
# leave behind a Wine server it started:
#   wine_session_test.sh SOURCE_DIR
# Runs the real scripts/steps.sh and scripts/wine-session.sh from SOURCE_DIR in
# a scratch tree whose cmake/wine-run.sh is a stub: its wineboot fails, and its
# wineserver -p starts a server, finds one running when
# WINE_STUB_SERVER_RUNNING=1, or cannot start one when it is "broken".
test_name=wine_session_test
# shellcheck source-path=SCRIPTDIR source=harness.sh
. "$(dirname "$0")/harness.sh"
show=calls

mkdir -p "$tmp/scripts" "$tmp/cmake"
cp "$source_dir/scripts/steps.sh" "$source_dir/scripts/wine-session.sh" "$tmp/scripts/"

cat >"$tmp/cmake/wine-run.sh" <<'END'
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
END
chmod +x "$tmp/cmake/wine-run.sh"

cat >"$tmp/driver.sh" <<'END'
set -eu
script=driver
. scripts/steps.sh
step "start Wine (64-bit)" build/logs/wine-64.log wine_session_start 64
echo "driver: went on after Wine failed to start"
END

# run_driver CASE SERVER_RUNNING ERROR: runs the driver in a fresh scratch build
# and expects it to fail, showing ERROR.
run_driver() {
  case_name="$1"
  rm -rf "$tmp/build" "$tmp/calls"
  run -C "$tmp" env WINE_STUB_CALLS="$tmp/calls" WINE_STUB_SERVER_RUNNING="$2" sh ./driver.sh
  expect "$case_name: the driver exited with status 0" test "$status" -ne 0
  expect "$case_name: the error '$3' is not on stderr" grep -q "$3" "$tmp/err"
  expect "$case_name: no FAILED line on stderr" grep -q "FAILED" "$tmp/err"
  expect_not "$case_name: the driver went on after the failed step" grep -q "went on" "$tmp/out"
}

run_driver "server started by the script" 0 "stub-wineboot: could not load kernel32.dll"
expect "$case_name: the server the script started was not stopped (no 'wineserver -k')" \
  grep -qx "64 wineserver -k" "$tmp/calls"

run_driver "server already running" 1 "stub-wineboot: could not load kernel32.dll"
expect_not "$case_name: a server that was already running was stopped" \
  grep -q "wineserver -k" "$tmp/calls"

run_driver "server that cannot start" broken "stub-wineserver: cannot execute"
expect_not "$case_name: wineboot ran although no server could be started" \
  grep -q "wineboot" "$tmp/calls"
finish
