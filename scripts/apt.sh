# Sourced by scripts/setup.sh and scripts/vm/prepare.sh: reading Debian's
# package lists in a way that survives a mirror that is out of step for a
# while, and saying plainly which package cannot be had when one cannot.
# apt-get is taken from the PATH, as are apt-cache and dpkg; APT_CONFIG, when
# set, points them at a private APT state.
#
# A mirror in the middle of a sync serves an index whose size or checksum does
# not match its release file; apt-get update then fails ("Mirror sync in
# progress?") and keeps the lists it had. Retrying after a pause often gets a
# matching index; when it does not, the lists there are may still offer every
# package needed, and only then is the failure worth stopping for.

# Tries and the pause between them, in seconds; the tests set the pause to 0.
: "${VESTRIX_APT_TRIES:=3}"
: "${VESTRIX_APT_PAUSE:=15}"

# apt_update WHO LOG: runs apt-get update until it succeeds, at most
# VESTRIX_APT_TRIES times, its output going to LOG. Returns 0 when an update
# succeeded. Otherwise prints one line naming the indexes that could not be
# fetched, sets apt_update_failed to them, and returns 1: the caller then
# checks whether the lists there are still offer what it needs.
apt_update() {
  apt_who="$1"
  apt_log="$2"
  apt_update_failed=""
  : >"$apt_log"
  apt_try=1
  while :; do
    echo "apt-get update, try $apt_try of $VESTRIX_APT_TRIES" >>"$apt_log"
    if apt-get -q update >>"$apt_log" 2>&1; then
      return 0
    fi
    [ "$apt_try" -lt "$VESTRIX_APT_TRIES" ] || break
    apt_try=$((apt_try + 1))
    sleep "$VESTRIX_APT_PAUSE"
  done
  # The indexes of the last try that apt could not fetch, by their address;
  # any other error line when it names none (no network at all, say).
  apt_update_failed=$(sed -n '/^apt-get update, try '"$VESTRIX_APT_TRIES"' /,$p' "$apt_log" |
    sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' | sort -u | tr '\n' ' ' | sed 's/ $//')
  if [ -z "$apt_update_failed" ]; then
    apt_update_failed=$(grep -E '^(E|W|Err):' "$apt_log" | tail -n 1)
  fi
  [ -n "$apt_update_failed" ] || apt_update_failed="apt-get update failed without saying why (see $apt_log)"
  echo "$apt_who: apt-get update failed $VESTRIX_APT_TRIES times; could not fetch: $apt_update_failed;" \
    "going on with the package lists there are"
  return 1
}

# apt_can_have WHO LOG PACKAGE[=VERSION]...: whether apt-get could install all
# of these, with what they depend on, from the package lists there are; it
# only plans (apt-get -s), its plan going to LOG. When it could not, prints
# apt's reasons, which name each package that cannot be had and why, and
# returns 1.
apt_can_have() {
  apt_who="$1"
  apt_log="$2"
  shift 2
  if apt-get -s install "$@" >"$apt_log" 2>&1; then
    return 0
  fi
  echo "$apt_who: these packages cannot be had from the package lists there are:" >&2
  grep -E '^E: |^ [^ ].* : (Pre)?Depends: |^ +(Pre)?Depends: ' "$apt_log" |
    grep -v -e 'E: Unable to correct problems' -e 'E: Some index files failed' |
    sed 's/^E: //; s/^ */  /' | sed 's/^\([^ ]\)/  \1/' >&2
  if [ -n "${apt_update_failed:-}" ]; then
    echo "  (apt-get update could not fetch: $apt_update_failed; the mirror may be in the middle of a sync, try again later)" >&2
  fi
  return 1
}
