#!/bin/sh
# Tells whether this machine can run 32-bit Windows programs under Wine:
#   scripts/wine32-probe.sh [--kernel]
# Prints one line either way: exits 0 when it can, saying so; otherwise exits 1
# with the reason, or 2 when it cannot tell. With --kernel it asks only whether the kernel
# runs 32-bit programs at all, which it can answer before Wine is installed.
#
# Some kernels have their 32-bit emulation switched off: every 32-bit program,
# Wine's 32-bit loader among them, then fails with "Exec format error", and no
# Wine can run 32-bit Windows code there, while 64-bit Wine works.
# VESTRIX_NO_WINE32=1 makes the probe answer no on any machine, so that what
# such machines do can be tried on one that runs 32-bit programs.
# VESTRIX_WINE32_ANSWER, set by the build and test scripts after they asked,
# is "yes" or the reason: every step of one run then gets the same answer.
set -eu

if [ -n "${VESTRIX_NO_WINE32:-}" ] && [ "$VESTRIX_NO_WINE32" != 0 ]; then
  echo "VESTRIX_NO_WINE32 is set"
  exit 1
fi
if [ "${1-}" != --kernel ] && [ -n "${VESTRIX_WINE32_ANSWER:-}" ]; then
  if [ "$VESTRIX_WINE32_ANSWER" = yes ]; then
    echo "32-bit Windows programs run here under Wine (as this run found at its start)"
    exit 0
  fi
  echo "$VESTRIX_WINE32_ANSWER"
  exit 1
fi

# The test programs go where programs may be started: the temporary directory,
# or else the build tree, for a temporary directory mounted noexec.
dir=""
for parent in "${TMPDIR:-/tmp}" "$(dirname "$0")/../build"; do
  mkdir -p "$parent" 2>/dev/null || continue
  dir=$(mktemp -d "$parent/wine32-probe.XXXXXX" 2>/dev/null) || continue
  cp /bin/true "$dir/native"
  "$dir/native" 2>/dev/null && break
  rm -rf "$dir"
  dir=""
done
if [ -z "$dir" ]; then
  echo "cannot tell: no directory here lets programs start (tried ${TMPDIR:-/tmp} and build/)"
  exit 2
fi
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
chmod +x "$dir/elf32"
if ! timeout 10 "$dir/elf32" 2>/dev/null; then
  echo "this machine's kernel refuses 32-bit programs (its 32-bit emulation is switched off)"
  exit 1
fi

# A 32-bit program that runs only through a user-mode emulator registered with
# binfmt_misc does not count: 32-bit Wine does not work under one. Such an
# entry matches ELF files of class 32 whose machine (bytes 18 and 19) is i386.
for entry in /proc/sys/fs/binfmt_misc/*; do
  grep -qx enabled "$entry" 2>/dev/null || continue
  magic=$(sed -n 's/^magic //p' "$entry")
  case "$magic" in
    7f454c4601*)
      if [ "$(printf '%s' "$magic" | cut -c37-40)" = 0300 ]; then
        echo "32-bit programs run here only through an emulator ($(sed -n 's/^interpreter //p' "$entry")), which cannot run Wine"
        exit 1
      fi
      ;;
  esac
done
if [ "${1-}" = --kernel ]; then
  echo "this machine's kernel runs 32-bit programs"
  exit 0
fi

if [ ! -x /usr/lib/wine/wine ]; then
  echo "Wine's 32-bit loader is not installed (scripts/setup.sh installs it)"
  exit 1
fi
if ! timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "Wine's 32-bit loader (/usr/lib/wine/wine) does not start"
  exit 1
fi
echo "32-bit Windows programs run here: the kernel runs 32-bit programs and Wine's 32-bit loader starts"
