#!/bin/sh
# scripts/fuzz.sh [SECONDS] and scripts/soak.sh [CYCLES] refuse a bad count with
# status 2 and a message that repeats it, before any work, and take a good one
# (or none, for the default) on to their first step:
#   count_argument_test.sh SOURCE_DIR
# Runs the real scripts in a scratch tree whose scripts/setup.sh is a stub that
# records its call and fails, so that no count starts a real run.
test_name=count_argument_test
# shellcheck source-path=SCRIPTDIR source=harness.sh
. "$(dirname "$0")/harness.sh"

mkdir -p "$tmp/scripts" "$tmp/cmake"
cp "$source_dir/scripts/fuzz.sh" "$source_dir/scripts/soak.sh" "$source_dir/scripts/steps.sh" \
  "$source_dir/scripts/wine-session.sh" "$tmp/scripts/"
cat >"$tmp/scripts/setup.sh" <<'END'
#!/bin/sh
echo called >"$(dirname "$0")/../setup-called"
exit 97
END
# soak.sh asks the probe after the setup; it never gets that far here.
printf '#!/bin/sh\nexit 3\n' >"$tmp/scripts/wine32-probe.sh"
chmod +x "$tmp/scripts/"*.sh

# check SCRIPT WANTED_STATUS WANTED_MESSAGE ARGUMENT...: runs the script with
# the arguments; the status and the first line of standard error must match,
# and the setup runs only for a count taken.
check() {
  name="$1" wanted_status="$2" wanted="$3"
  shift 3
  rm -f "$tmp/setup-called"
  run sh "$tmp/scripts/$name" "$@"
  want_called=no
  [ "$wanted_status" = 2 ] || want_called=yes
  called=no
  [ ! -e "$tmp/setup-called" ] || called=yes
  expect "$name $*: status $status (wanted $wanted_status)" test "$status" = "$wanted_status"
  expect "$name $*: the first line of stderr (wanted: $wanted)" \
    test "$(head -n 1 "$tmp/err")" = "$wanted"
  expect "$name $*: setup run: $called (wanted $want_called)" test "$called" = "$want_called"
}

for value in '' 0 000 -5 1.5 abc '60 s' 123456789; do
  check fuzz.sh 2 "fuzz.sh: '$value' is not a number of seconds from 1 to 99999999" "$value"
  check soak.sh 2 "soak.sh: '$value' is not a number of cycles from 1 to 99999999" "$value"
done
check fuzz.sh 2 "fuzz.sh: one argument at most, got 2: 1 2" 1 2
check soak.sh 2 "soak.sh: one argument at most, got 2: 1 2" 1 2
# A good count, or none, goes on to the first step, the stub's failing setup.
step_failed="FAILED: setup: installing what is missing: 'scripts/setup.sh' exited with status 97"
for value in 1 007 99999999; do
  check fuzz.sh 97 "fuzz.sh: $step_failed" "$value"
  check soak.sh 97 "soak.sh: $step_failed" "$value"
done
check fuzz.sh 97 "fuzz.sh: $step_failed"
check soak.sh 97 "soak.sh: $step_failed"
finish
