#!/bin/sh
# Compares the demo's snapshots of two runs, as text art (hostsim --art):
#   scripts/compare-snapshots.sh EXPECTED ACTUAL
# Every NAME.txt of EXPECTED must be in ACTUAL with the same lines, line
# endings aside. Text art is what a run can repeat exactly: it samples the
# icons until they hold still, where a PNG shows the blinking and turning
# icons as they happened to be, and it writes the clock that 'done' gave the
# panel as "the local time at 'done'", drawn at a fixed time. Prints one line
# for each difference and exits 1 if there is one.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: scripts/compare-snapshots.sh EXPECTED ACTUAL" >&2
  exit 2
fi
differ=0 count=0
for expected in "$1"/*.txt; do
  if [ ! -e "$expected" ]; then
    echo "compare-snapshots.sh: no text art in $1" >&2
    exit 1
  fi
  name=$(basename "$expected")
  count=$((count + 1))
  if [ ! -f "$2/$name" ]; then
    echo "compare-snapshots.sh: $2/$name is missing" >&2
    differ=1
  elif ! diff --strip-trailing-cr "$expected" "$2/$name" >/dev/null; then
    echo "compare-snapshots.sh: $2/$name differs from $expected:" >&2
    diff --strip-trailing-cr "$expected" "$2/$name" | head -n 20 | sed 's/^/  /' >&2
    differ=1
  fi
done
[ "$differ" -eq 0 ] && echo "compare-snapshots.sh: the $count snapshots of $2 are the same as those of $1"
exit "$differ"
