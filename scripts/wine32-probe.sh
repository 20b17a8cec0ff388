#!/bin/sh
# Tells whether this machine can run 32-bit Windows programs under Wine:
#   scripts/wine32-probe.sh [--kernel]
# Exits 0 when it can. Otherwise exits 1 and prints the reason as one line.
# With --kernel it asks only whether the kernel runs 32-bit programs at all,
# which it can answer before Wine is installed.
#
# Some kernels have their 32-bit emulation switched off: every 32-bit program,
# Wine's 32-bit loader among them, then fails with "Exec format error", and no
# Wine can run 32-bit Windows code there, while 64-bit Wine works.
# VESTRIX_NO_WINE32=1 makes the probe answer no on any machine, so that what
# such machines do can be tried on one that runs 32-bit programs.
set -eu

if [ -n "${VESTRIX_NO_WINE32:-}" ] && [ "$VESTRIX_NO_WINE32" != 0 ]; then
  echo "VESTRIX_NO_WINE32 is set"
  exit 1
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# The smallest 32-bit x86 Linux program: an ELF header, one loadable segment
# and the code `xor %ebx,%ebx; mov $1,%eax; int $0x80`, which exits with 0.
{
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0'                       # 32-bit, little-endian
  printf '\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0' # executable, i386, entry 0x8048054
  printf '\64\0\40\0\1\0\0\0\0\0\0\0'                            # one program header
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10'                # PT_LOAD of the file at 0x8048000
  printf '\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0'                 # 93 bytes, read and execute
  printf '\61\333\270\1\0\0\0\315\200'                           # the code
} >"$dir/elf32"
cp /bin/true "$dir/native"
chmod +x "$dir/elf32" "$dir/native"

if ! "$dir/native" 2>/dev/null; then
  echo "cannot tell: programs cannot be started from $dir (set TMPDIR to a directory that allows it)"
  exit 1
fi
if ! timeout 10 "$dir/elf32" 2>/dev/null; then
  echo "this machine's kernel refuses 32-bit programs (its 32-bit emulation is switched off)"
  exit 1
fi
# A 32-bit program that runs only through a user-mode emulator registered with
# binfmt_misc does not count: 32-bit Wine does not work under one.
for entry in /proc/sys/fs/binfmt_misc/*; do
  if grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$entry"; then
    echo "32-bit programs run here only through an emulator ($(sed -n 's/^interpreter //p' "$entry")), which cannot run Wine"
    exit 1
  fi
done
[ "${1-}" = --kernel ] && exit 0

if [ ! -x /usr/lib/wine/wine ]; then
  echo "Wine's 32-bit loader is not installed (scripts/setup.sh installs it)"
  exit 1
fi
if ! timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "Wine's 32-bit loader (/usr/lib/wine/wine) does not start"
  exit 1
fi
