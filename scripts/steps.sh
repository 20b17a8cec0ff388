# Sourced by the build and test scripts: named steps with logs, what this
# machine can run, and Wine sessions that end with the script. The sourcing
# script sets `script` to its own name and runs from the top of the source tree.
: "${script:?the sourcing script sets script to its own name}"
. scripts/wine-session.sh
trap wine_session_stop EXIT
# An interrupted script ends through its exit trap too, so that no Wine server
# it started outlives it.
trap 'exit 130' INT
trap 'exit 143' TERM

# count_argument WHAT DEFAULT USAGE [ARGUMENT...]: sets `count` to the one
# argument, a whole number from 1 to 99999999 (leading zeros dropped), or to
# DEFAULT when none is given. An empty argument is checked like any other. A bad
# count, or more than one, ends the script with status 2, repeating the value.
count_argument() {
  count_what="$1"
  count_default="$2"
  count_usage="$3"
  shift 3
  if [ $# -gt 1 ]; then
    echo "$script: one argument at most, got $#: $*" >&2
    echo "$count_usage" >&2
    exit 2
  fi
  count="${1-$count_default}"
  case "$count" in
    *[!0-9]*) count="" ;;
    *) count="${count#"${count%%[!0]*}"}" ;;
  esac
  if [ -z "$count" ] || [ ${#count} -gt 8 ]; then
    echo "$script: '${1-}' is not a number of $count_what from 1 to 99999999" >&2
    echo "$count_usage" >&2
    exit 2
  fi
}

# step NAME LOG COMMAND [ARGUMENT...]: runs the command as the step NAME, its
# output going to the file LOG (or to the terminal for LOG "-"). A failing step
# names itself, its command and its log, shows the log's end and ends the
# script with the command's status.
step() {
  step_name="$1"
  step_log="$2"
  shift 2
  echo "$script: $step_name"
  step_status=0
  if [ "$step_log" = - ]; then
    "$@" || step_status=$?
  else
    mkdir -p "$(dirname "$step_log")"
    "$@" </dev/null >"$step_log" 2>&1 || step_status=$?
  fi
  if [ "$step_status" -ne 0 ]; then
    if [ "$step_log" != - ]; then
      tail -n 40 "$step_log" | sed 's/^/  | /' >&2
    fi
    echo "$script: FAILED: $step_name: '$*' exited with status $step_status" >&2
    if [ "$step_log" != - ]; then
      echo "$script: its whole log is $step_log" >&2
    fi
    exit "$step_status"
  fi
}

# background_step NAME LOG COMMAND [ARGUMENT...]: starts the command as the
# step NAME beside the steps that follow, its output going to the file LOG;
# background_wait waits for it and then judges it as step does. One at a
# time. A script that ends before it waits stops the command.
background_step() {
  background_name="$1"
  background_log="$2"
  shift 2
  background_command="$*"
  echo "$script: $background_name (beside the steps below)"
  mkdir -p "$(dirname "$background_log")"
  "$@" </dev/null >"$background_log" 2>&1 &
  background_pid=$!
  trap 'kill "$background_pid" 2>/dev/null || true; wine_session_stop' EXIT
}

background_wait() {
  background_status=0
  wait "$background_pid" || background_status=$?
  trap wine_session_stop EXIT
  if [ "$background_status" -ne 0 ]; then
    tail -n 40 "$background_log" | sed 's/^/  | /' >&2
    echo "$script: FAILED: $background_name: '$background_command' exited with status $background_status" >&2
    echo "$script: its whole log is $background_log" >&2
    exit "$background_status"
  fi
  echo "$script: $background_name: done"
}

# ctest_step PRESET: runs the preset's tests as a step and shows their summary.
ctest_step() {
  step "test, preset $1" "build/logs/test-$1.log" ctest --preset "$1"
  ctest_summary "$1"
}

# ctest_summary PRESET: the summary of the preset's tests from their log.
ctest_summary() {
  sed -n '/tests passed/,$p' "build/logs/test-$1.log" | sed 's/^/  /'
}

# wine32_step NAME LOG TIMEOUT COMMAND [ARGUMENT...]: runs the command as the
# step NAME in a 32-bit Wine session (scripts/with-wine.sh): directly where this
# machine runs 32-bit programs, else in the virtual machine of scripts/vm,
# prepared first and bounded by TIMEOUT seconds. For scripts whose
# setup_and_probe found that one of the two can run it.
wine32_step() {
  wine32_step_name="$1"
  wine32_step_log="$2"
  wine32_step_timeout="$3"
  shift 3
  if [ "$wine32_runs" = yes ]; then
    step "$wine32_step_name under 32-bit Wine" "$wine32_step_log" scripts/with-wine.sh 32 "$@"
  else
    vm_prepare_step
    step "$wine32_step_name under 32-bit Wine in the virtual machine" "$wine32_step_log" \
      scripts/vm/run.sh --wine32 --timeout "$wine32_step_timeout" -- scripts/with-wine.sh 32 "$@"
  fi
}

# vm_prepare_step: prepares the virtual machine of scripts/vm, with 32-bit
# Wine, as a step of its own: the first preparation on a machine downloads.
vm_prepare_step() {
  step "prepare the virtual machine (Debian's kernel, 32-bit Wine)" build/logs/vm-prepare.log \
    scripts/vm/prepare.sh --wine32
}

# setup_and_probe: installs what is missing, then asks whether this machine
# runs 32-bit Windows programs. Sets wine32_runs to "yes" or "no", and
# wine32_why to why not; the answer holds for every later step of the script,
# the configure steps included. It also asks whether the virtual machine of
# scripts/vm can start here, to run 32-bit programs where this machine does
# not and the tests through the kernel's driver everywhere: vm_runs is "yes"
# or "no", and vm_why says why not.
setup_and_probe() {
  step "setup: installing what is missing" build/logs/setup.log scripts/setup.sh
  probe_status=0
  wine32_why=$(scripts/wine32-probe.sh) || probe_status=$?
  # shellcheck disable=SC2034  # wine32_runs is read by the sourcing script
  case "$probe_status" in
    0) wine32_runs=yes VESTRIX_WINE32_ANSWER=yes ;;
    1) wine32_runs=no VESTRIX_WINE32_ANSWER="$wine32_why" ;;
    *)
      echo "$script: FAILED: asking whether 32-bit Windows programs run here: 'scripts/wine32-probe.sh' exited with status $probe_status: $wine32_why" >&2
      exit "$probe_status"
      ;;
  esac
  export VESTRIX_WINE32_ANSWER
  vm_runs=no vm_why=""
  if vm_why=$(scripts/vm/run.sh --check); then
    vm_runs=yes
  fi
}

# wine32_path: one line on how this script runs 32-bit Windows programs, and why.
wine32_path() {
  if [ "$wine32_runs" = yes ]; then
    echo "directly under 32-bit Wine, since this machine runs 32-bit programs"
  elif [ "$vm_runs" = yes ]; then
    echo "under 32-bit Wine in the virtual machine of scripts/vm, since $wine32_why"
  else
    echo "nowhere: $wine32_why, and the virtual machine cannot run them either: $vm_why"
  fi
}

# note_no_wine32 WHAT_DID_NOT_RUN WHAT_RAN_INSTEAD: the note for a machine that
# can run 32-bit Windows programs neither directly nor in the virtual machine.
note_no_wine32() {
  echo "$script: note: 32-bit Windows programs cannot run here: $wine32_why;"
  echo "  nor in the virtual machine (scripts/vm/run.sh): $vm_why."
  echo "  Not run: $1."
  echo "  How to tell such a machine: its kernel log says \"32-bit emulation disabled\", and with 32-bit"
  echo "  Wine installed 'wine --version' fails with \"Exec format error\"; scripts/wine32-probe.sh says why."
  echo "  Ran instead: $2."
}
