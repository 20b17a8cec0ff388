# Sourced by the scripts that run Windows programs: a Wine prefix of the
# project's own and a Wine server that lives until the script ends.
# The server and wineboot get no terminal and no pipes of ours; a server that
# inherited them would hold the caller's output open and hang it.
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-vestrix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# A server that already runs for this prefix is kept and left running at the
# end (wineserver -p then answers non-zero); only a server started here is
# stopped again. A fresh prefix is created by wineboot, which takes a few
# seconds the first time.
wine_session_owned=""

wine_session_start() {
  mkdir -p "$WINEPREFIX"
  if wineserver -p </dev/null >/dev/null 2>&1; then
    wine_session_owned=1
  fi
  wineboot -i </dev/null >/dev/null 2>&1
}

wine_session_stop() {
  if [ -n "$wine_session_owned" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wine_session_owned=""
  fi
}
