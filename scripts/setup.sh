#!/bin/sh
# Installs what building and testing Vestrix needs from Debian's packages, and
# only what is missing, so running it again costs nothing. Needs root.
set -eu
cd "$(dirname "$0")/.."

# The native tools, with clang and libFuzzer's runtime for the API fuzzer,
# Google Benchmark for the benchmarks, a virtual X server for the test of
# the virtual panel's window (xvfb-run needs xauth, which xvfb only
# recommends) and tmux, whose terminals of a set width test the host
# simulator's live view. Both MinGW-w64 toolchains (the 32-bit build a
# user installs, and the 64-bit test build of the same code) and 64-bit Wine,
# which runs on every x86-64 machine. Each Wine comes with its preloader, which reserves the addresses a
# Windows process needs before anything else is mapped there: without it a
# program now and then fails to start ("failed to map the shared user data").
packages="cmake ninja-build g++ python3 googletest libstb-dev
  clang libclang-rt-14-dev libbenchmark-dev xvfb xauth tmux
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wine64-preloader
  emscripten chromium"
# The panel page: Debian's emscripten builds the plug-in and the emulator to
# WebAssembly, and its tests drive Debian's Chromium through playwright-core
# from npm (web/package-lock.json). Node.js comes with emscripten; npm with
# it, unless a Node.js of another origin already brings its own npm.
if ! command -v npm >/dev/null 2>&1; then
  packages="$packages npm"
fi
# 32-bit Wine only where the kernel runs 32-bit programs: elsewhere it could
# not start, and /usr/bin/wine would choose it over the 64-bit loader. There
# the virtual machine of scripts/vm runs it instead. That machine also runs
# the tests through the kernel's imon driver on every machine, unless
# VESTRIX_NO_VM is set: QEMU and busybox for its kernel's initramfs. The
# machine's own packages come from Debian when scripts/vm/prepare.sh first
# makes it.
if scripts/wine32-probe.sh --kernel >/dev/null; then
  packages="$packages wine32:i386 wine32-preloader:i386"
fi
if [ -z "${VESTRIX_NO_VM:-}" ] || [ "$VESTRIX_NO_VM" = 0 ]; then
  packages="$packages qemu-system-x86 busybox-static"
fi

# web_packages: the npm packages of the page's tests, installed as
# web/package-lock.json pins them, unless they are installed so already.
web_packages() {
  if ! cmp -s web/package-lock.json web/node_modules/.vestrix-lock 2>/dev/null; then
    echo "setup: installing the npm packages of web/package-lock.json"
    (cd web && npm ci --no-audit --no-fund --loglevel=error) >/dev/null
    cp web/package-lock.json web/node_modules/.vestrix-lock
  fi
}

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing="$missing $package"
  fi
done
if [ -z "$missing" ]; then
  web_packages
  exit 0
fi

echo "setup: installing$missing"
case "$missing" in
  *:i386*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386
    fi
    ;;
esac
export DEBIAN_FRONTEND=noninteractive
# A mirror out of step fails the update; the lists there are may still offer
# every package missing here (see scripts/apt.sh).
. scripts/apt.sh
mkdir -p build/logs
if ! apt_update setup build/logs/setup-apt-update.log; then
  # shellcheck disable=SC2086  # the list is meant to split into words
  apt_can_have setup build/logs/setup-apt-plan.log $missing || exit 1
fi
# shellcheck disable=SC2086  # the list is meant to split into words
if ! apt-get install -y -qq --no-install-recommends $missing >build/logs/setup-apt-install.log 2>&1; then
  grep -E '^(E|W): ' build/logs/setup-apt-install.log | sed 's/^/  /' >&2
  echo "setup: apt-get install failed for:$missing; its log is build/logs/setup-apt-install.log" >&2
  exit 1
fi
web_packages
