#!/bin/sh
# scripts/fuzz.sh [SECONDS] and scripts/soak.sh [CYCLES] refuse a bad count with
# status 2 and a message that repeats it, before any work, and take a good one
# (or none, for the default) on to their first step:
#   count_argument_test.sh SOURCE_DIR
# Runs the real scripts in a scratch tree whose scripts/setup.sh is a stub that
# records its call and fails, so that no count starts a real run.
set -eu
source_dir="${1:?usage: count_argument_test.sh SOURCE_DIR}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$tmp/scripts" "$tmp/cmake"
cp "$source_dir/scripts/fuzz.sh" "$source_dir/scripts/soak.sh" "$source_dir/scripts/steps.sh" \
  "$source_dir/scripts/wine-session.sh" "$tmp/scripts/"
cat >"$tmp/scripts/setup.sh" <<'EOF'
#!/bin/sh
echo called >"$(dirname "$0")/../setup-called"
exit 97
EOF
# soak.sh asks the probe after the setup; it never gets that far here.
printf '#!/bin/sh\nexit 3\n' >"$tmp/scripts/wine32-probe.sh"
chmod +x "$tmp/scripts/"*.sh

failures=0
# check SCRIPT WANTED_STATUS WANTED_MESSAGE ARGUMENT...: runs the script with
# the arguments; the status and the first line of standard error must match.
check() {
  name="$1"
  wanted_status="$2"
  wanted="$3"
  shift 3
  rm -f "$tmp/setup-called"
  status=0
  sh "$tmp/scripts/$name" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
  got=$(head -n 1 "$tmp/err")
  called=no
  [ ! -e "$tmp/setup-called" ] || called=yes
  want_called=no
  [ "$wanted_status" = 2 ] || want_called=yes
  if [ "$status" != "$wanted_status" ] || [ "$got" != "$wanted" ] || [ "$called" != "$want_called" ]; then
    echo "FAILED: $name $*: status $status (wanted $wanted_status), setup run: $called (wanted $want_called)"
    echo "  stderr: $got"
    echo "  wanted: $wanted"
    failures=$((failures + 1))
  fi
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

if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed"
  exit 1
fi
echo "all count arguments handled"
