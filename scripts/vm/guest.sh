#!/bin/sh
# The guest's second stage, in its own root (see scripts/vm/init): runs the
# command that scripts/vm/run.sh wrote into the run directory, its output
# going to the second serial port, writes its exit status next to it and
# powers the guest off.
#   guest.sh RUN_DIRECTORY
run="$1"
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
# The dynamic loader's cache of the host knows nothing of the i386 libraries
# laid over it.
ldconfig
# The output goes through a pipe: the command sees no terminal, as on the
# host when its output goes to a log, and draws no colours or live pictures.
{
  status=0
  sh "$run/command" </dev/null 2>&1 || status=$?
  echo "$status" >"$run/status.tmp"
  mv "$run/status.tmp" "$run/status"
} | cat >/dev/ttyS1
sync
echo o >/proc/sysrq-trigger
sleep 60
