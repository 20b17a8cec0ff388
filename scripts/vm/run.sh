#!/bin/sh
# Runs one command inside a small virtual machine with Debian's own kernel,
# for what this machine's kernel cannot do: the kernel's imon driver with an
# emulated panel on USB/IP (usbpanel/), whose modules the guest loads, and,
# with --wine32, 32-bit Wine, and with it the real VESTRIX.DLL, also where this
# machine's kernel refuses 32-bit programs:
#   scripts/vm/run.sh [--wine32] [--timeout SECONDS] [--] COMMAND [ARGUMENT...]
#   scripts/vm/run.sh --check
# The command runs as root in the current directory, which must lie in the
# project, with the same programs and files as on the host: the guest's root
# is the host's / (read-only, with a tmpfs on top and, with --wine32, Debian's
# 32-bit Wine packages laid in between), and the project's directory is
# shared read-write, so what the command writes there stays. Its output comes
# back on standard output, and its exit status is this script's. The guest
# has the kernel modules vhci-hcd (USB/IP) and imon loaded and its loopback
# interface up. Wine's prefix is made fresh on the guest's tmpfs
# (WINEPREFIX=/tmp/wine-vestrix); VESTRIX_VM_GUEST=1 tells the command where
# it runs.
#
# The machine is made by scripts/vm/prepare.sh on first use, once per
# machine, in the user's cache directory (see there); the 32-bit Wine tree
# only when --wine32 first asks for it. It boots in a few seconds. QEMU
# emulates the processor (TCG), and Wine is then about 3 to 10 times slower
# than on the host; VESTRIX_VM_ACCEL=kvm asks for KVM instead. The run ends
# after SECONDS (default 3600), or when this script is interrupted; a guest
# that fails gets a one-line diagnosis naming its console log. Exit status 125
# is the machine's failure, not the command's.
#
# --check asks only whether this machine can start the virtual machine at all,
# prints why not as one line, and exits 1 if it cannot. VESTRIX_NO_VM=1 turns
# the virtual machine off.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

# check: whether the virtual machine can start here; the reason on stdout if not.
check() {
  if [ -n "${VESTRIX_NO_VM:-}" ] && [ "$VESTRIX_NO_VM" != 0 ]; then
    echo "VESTRIX_NO_VM is set"
    return 1
  fi
  if [ "$(uname -m)" != x86_64 ]; then
    echo "the virtual machine needs an x86-64 host, not $(uname -m)"
    return 1
  fi
  for tool in qemu-system-x86_64:qemu-system-x86 busybox:busybox-static; do
    if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
      echo "${tool%%:*} is missing (Debian package ${tool#*:}; scripts/setup.sh installs it)"
      return 1
    fi
  done
  if ! qemu-system-x86_64 -version >/dev/null 2>&1; then
    echo "qemu-system-x86_64 does not start"
    return 1
  fi
}

if [ "${1-}" = --check ]; then
  check
  exit
fi

timeout=3600
wine32=""
while [ $# -gt 0 ]; do
  case "$1" in
    --wine32) wine32=--wine32; shift ;;
    --timeout)
      if [ $# -lt 2 ]; then
        echo "run.sh: --timeout needs a number of seconds" >&2
        exit 2
      fi
      timeout="$2"
      shift 2
      ;;
    --) shift; break ;;
    -*) echo "run.sh: unknown option '$1'" >&2; exit 2 ;;
    *) break ;;
  esac
done
case "$timeout" in
  '' | *[!0-9]* | 0)
    echo "run.sh: the timeout is a positive number of seconds, not '$timeout'" >&2
    exit 2
    ;;
esac
if [ $# -eq 0 ]; then
  echo "usage: scripts/vm/run.sh [--wine32] [--timeout SECONDS] [--] COMMAND [ARGUMENT...]" >&2
  exit 2
fi
cwd=$(pwd)
case "$cwd/" in
  "$top"/*) ;;
  *)
    echo "vm: the command must run inside the project ($top), not in $cwd" >&2
    exit 2
    ;;
esac
case "$top" in
  *[!A-Za-z0-9/._+-]*)
    echo "vm: the project's path '$top' holds characters the guest's kernel command line cannot carry" >&2
    exit 2
    ;;
esac

if ! why=$(check); then
  echo "vm: the virtual machine cannot start here: $why" >&2
  exit 125
fi
"$here/prepare.sh" $wine32 >&2 || exit 125
. "$here/cache.sh"
# The entry stays held while the machine runs, so that no preparation for
# other inputs removes it meanwhile.
exec 8<"$vm_packages/.ready"
flock -s 8
touch "$vm_packages/.ready" "$vm_initramfs"

# The run's directory, shared with the guest through the project's share: the
# command to run, its exit status, and the guest's console log.
mkdir -p "$top/build/vm/runs"
run=$(mktemp -d "$top/build/vm/runs/run.XXXXXX")

# quote WORD: the word in single quotes for sh.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
{
  # The host's own environment, as far as it concerns the command: locale,
  # paths, and the project's, Wine's and the test tools' settings. The answer
  # to whether 32-bit programs run is asked anew in the guest.
  env | sed -n 's/^\(PATH\|HOME\|USER\|LANG\|LANGUAGE\|LC_[A-Z]*\|TZ\|TERM\|VESTRIX_[A-Z0-9_]*\|WINEDEBUG\|WINEDLLOVERRIDES\|CTEST_[A-Z_]*\|GTEST_[A-Z_]*\)=.*/\1/p' |
    grep -v -x -e VESTRIX_NO_WINE32 -e VESTRIX_WINE32_ANSWER |
    while read -r name; do
      printf 'export %s=%s\n' "$name" "$(quote "$(printenv "$name")")"
    done
  # Wine's prefix on the guest's tmpfs: on the 9p share Wine starts about four
  # times slower. Wine's USB driver stays off: it finds the guest's virtual
  # USB host controller, and wineboot then fails after minutes (status 53);
  # the Windows programs here reach the panel through its device file.
  echo "export WINEPREFIX=/tmp/wine-vestrix WINEARCH=win32 VESTRIX_VM_GUEST=1"
  # shellcheck disable=SC2016  # expanded in the guest
  echo 'export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};wineusb.sys=d"'
  printf 'cd %s || exit 125\n' "$(quote "$cwd")"
  printf 'exec'
  for word in "$@"; do
    printf ' %s' "$(quote "$word")"
  done
  printf '\n'
} >"$run/command"

# The processor is emulated (TCG) unless VESTRIX_VM_ACCEL=kvm asks for KVM.
# KVM is not the default: where /dev/kvm exists inside another virtual machine
# it may refuse QEMU's processor model ("failed to set MSR") or hang the guest
# before its first console line, and a hang costs the whole timeout.
accel="-accel tcg,thread=multi" cpu=max,-smap
if [ "${VESTRIX_VM_ACCEL:-tcg}" = kvm ]; then
  accel="-accel kvm" cpu=host
fi

# -cpu max,-smap: with SMAP on, QEMU 7.2's emulated processor faults on the
# stack reads of an IRET made from user mode; Wine's return from its system
# call dispatcher then oopses the guest's kernel and the process dies "Killed".
# The 32-bit Wine tree is a share of its own, which the guest lays over its
# root when the kernel's command line says so.
set --
if [ -n "$wine32" ]; then
  set -- -fsdev "local,id=wine32,path=$vm_packages/wine32,security_model=none,readonly=on" \
    -device virtio-9p-pci,fsdev=wine32,mount_tag=wine32
fi

# The second serial port is the command's output; the first is the console.
# Two processors, for the two jobs of the test presets.
# shellcheck disable=SC2086  # the accelerator options are meant to split
timeout --kill-after=10 "$timeout" qemu-system-x86_64 \
  $accel -cpu "$cpu" -smp 2 -m 6G \
  -nodefaults -display none -no-reboot -nic none \
  -kernel "$vm_packages/vmlinuz" -initrd "$vm_initramfs" \
  -append "console=ttyS0 quiet panic=-1 vm.top=$top vm.run=$run vm.wine32=${wine32:+1}" \
  -chardev "file,id=console,path=$run/console.log" -serial chardev:console \
  -chardev stdio,id=out,signal=off -serial chardev:out \
  -fsdev local,id=host,path=/,security_model=none,multidevs=remap,readonly=on \
  -device virtio-9p-pci,fsdev=host,mount_tag=host \
  "$@" \
  -fsdev "local,id=top,path=$top,security_model=none,multidevs=remap" \
  -device virtio-9p-pci,fsdev=top,mount_tag=top \
  </dev/null 2>"$run/qemu.log" &
# timeout runs in a process group of its own, which the terminal's Ctrl-C does
# not reach: an interrupted script stops the machine itself, rather than leave
# it running.
vm=$!
trap 'kill -TERM "$vm" 2>/dev/null || true' INT TERM HUP
status=0
wait "$vm" || status=$?
while kill -0 "$vm" 2>/dev/null; do
  wait "$vm" || status=$?
done
trap - INT TERM HUP

if [ -f "$run/status" ]; then
  command_status=$(cat "$run/status")
  rm -rf "$run"
  exit "$command_status"
fi
# No exit status: the guest failed. One line saying how, and where to look.
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  what="the guest did not finish within $timeout s"
elif grep -q 'vm guest:' "$run/console.log" 2>/dev/null; then
  what=$(grep -m 1 'vm guest:' "$run/console.log" | sed 's/^.*vm guest: /the guest could not start: /')
elif grep -q 'Kernel panic' "$run/console.log" 2>/dev/null; then
  what="the guest's kernel panicked: $(grep -m 1 'Kernel panic' "$run/console.log" | sed 's/^\[[^]]*\] *//')"
elif grep -q 'terminating on signal' "$run/qemu.log" 2>/dev/null; then
  what="the virtual machine was stopped by a signal"
elif [ "$status" -ne 0 ] && [ -s "$run/qemu.log" ]; then
  what="qemu-system-x86_64 failed (status $status): $(grep -v -m 1 '^qemu-system-x86_64: warning' "$run/qemu.log" || head -n 1 "$run/qemu.log")"
else
  what="the guest stopped without the command's exit status (qemu status $status)"
fi
echo "vm: $what; console log: $run/console.log" >&2
exit 125
