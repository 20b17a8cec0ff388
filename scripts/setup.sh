#!/bin/sh
# Installs what building and testing Vestrix needs from Debian's packages, and
# only what is missing, so running it again costs nothing. Needs root.
set -eu

packages="cmake ninja-build g++ python3 googletest libstb-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

echo "setup: installing$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086  # the list is meant to split into words
apt-get install -y -qq --no-install-recommends $missing >/dev/null
