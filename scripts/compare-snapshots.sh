#!/bin/sh
# Compares two directories of demo snapshots file by file:
#   scripts/compare-snapshots.sh EXPECTED ACTUAL
# Every PNG of EXPECTED must be in ACTUAL with the same bytes, but for
# clock.png, which shows the time of its run. Prints one line for each
# difference and exits 1 if there is one.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: scripts/compare-snapshots.sh EXPECTED ACTUAL" >&2
  exit 2
fi
differ=0 count=0
for expected in "$1"/*.png; do
  [ -e "$expected" ] || { echo "compare-snapshots.sh: no snapshots in $1" >&2; exit 1; }
  name=$(basename "$expected")
  [ "$name" = clock.png ] && continue
  count=$((count + 1))
  if [ ! -f "$2/$name" ]; then
    echo "compare-snapshots.sh: $2/$name is missing" >&2
    differ=1
  elif ! cmp -s "$expected" "$2/$name"; then
    echo "compare-snapshots.sh: $2/$name differs from $expected" >&2
    differ=1
  fi
done
[ "$differ" -eq 0 ] && echo "compare-snapshots.sh: $count snapshots of $2 are the same as those of $1"
exit "$differ"
