# Sourced by the scripts that run Windows programs: for each kind of Wine, 32
# or 64 bits, a prefix of the project's own (see cmake/wine-run.sh) and a Wine
# server that lives until the script ends.
# The server and wineboot get no terminal and no pipes of ours; a server that
# inherited them would hold the caller's output open and hang it.

# The kinds whose server this script started. A server that already runs for a
# prefix is kept and left running at the end (wineserver -p then answers 2);
# only a server started here is stopped again.
wine_sessions_owned=""

# wine_session_start 32|64: starts the server and brings the prefix up to date;
# a fresh prefix takes a few seconds the first time. wineboot writes to
# build/logs/wineboot-32.log or -64.log (in the virtual machine -vm-32.log,
# since a session on this machine may run beside it), a file, which no process
# it leaves running can hold up.
wine_session_start() {
  wine_session_log="build/logs/wineboot-${VESTRIX_VM_GUEST:+vm-}$1.log"
  mkdir -p build/logs
  wine_session_status=0
  cmake/wine-run.sh "$1" wineserver -p </dev/null >"$wine_session_log" 2>&1 || wine_session_status=$?
  case "$wine_session_status" in
    0) wine_sessions_owned="$wine_sessions_owned $1" ;;
    2) ;; # already running
    *)
      sed 's/^/  wineserver: /' "$wine_session_log" >&2
      echo "wine_session_start: 'cmake/wine-run.sh $1 wineserver -p' failed with status $wine_session_status" >&2
      return "$wine_session_status"
      ;;
  esac
  wine_session_status=0
  cmake/wine-run.sh "$1" wineboot -i </dev/null >"$wine_session_log" 2>&1 || wine_session_status=$?
  if [ "$wine_session_status" -ne 0 ]; then
    tail -n 20 "$wine_session_log" | sed 's/^/  wineboot: /' >&2
    echo "wine_session_start: 'cmake/wine-run.sh $1 wineboot -i' failed with status $wine_session_status; its log is $wine_session_log" >&2
    return "$wine_session_status"
  fi
}

# wine_session_stop: stops the servers this script started.
wine_session_stop() {
  for bits in $wine_sessions_owned; do
    cmake/wine-run.sh "$bits" wineserver -k </dev/null >/dev/null 2>&1 || true
  done
  wine_sessions_owned=""
}
