# Source this file to get a private, ready Wine prefix for running the Windows test binaries:
#   source scripts/wine-env.sh        start (idempotent within one shell)
#   source scripts/wine-env.sh stop   stop the server and remove the prefix
# The prefix and its server are started before ctest with input and output detached: otherwise
# Wine's background services hold ctest's output pipe open. The crash debugger points at a program
# that does not exist, so that a crashing test cannot exit 0.
# Setting up a new prefix runs in the background of the first Wine command, so each step waits for
# every Wine process to end, and the one setting that matters (the crash debugger) is retried and
# read back: on a loaded machine a command started too early finds the prefix half made. A step
# that still fails says which one and with what status.
if [ "${1:-}" = stop ]; then
  if [ -n "${QV_WINEPREFIX_OWNED:-}" ] && [ -d "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  unset QV_WINEPREFIX_OWNED WINEPREFIX
else
  unset DISPLAY WAYLAND_DISPLAY
  export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -z "${QV_WINEPREFIX_OWNED:-}" ] || [ ! -d "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d /tmp/wineprefix.XXXXXX)
    export WINEPREFIX QV_WINEPREFIX_OWNED=1
    qv_wine_rc=0
    wineboot -i </dev/null >/dev/null 2>&1 || qv_wine_rc=$?
    [ "$qv_wine_rc" -eq 0 ] || echo "wine-env: wineboot -i exited with $qv_wine_rc" >&2
    wineserver -w || true
    qv_wine_ok=
    for qv_wine_try in 1 2 3 4 5; do
      qv_wine_rc=0
      /usr/lib/wine/wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d nonexistent-debugger.exe /f </dev/null >/dev/null 2>&1 ||
        qv_wine_rc=$?
      wineserver -w || true
      if [ "$qv_wine_rc" -eq 0 ] &&
         /usr/lib/wine/wine64 reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
           /v Debugger </dev/null 2>/dev/null | grep -q nonexistent-debugger.exe; then
        qv_wine_ok=1
        break
      fi
      echo "wine-env: setting the crash debugger failed (status $qv_wine_rc, try $qv_wine_try)" >&2
      sleep 3
    done
    wineserver -w || true
    unset qv_wine_rc qv_wine_try
    if [ -z "$qv_wine_ok" ]; then
      unset qv_wine_ok
      echo "wine-env: the Wine prefix $WINEPREFIX could not be set up" >&2
      df -h /tmp >&2 || true
      false
    else
      unset qv_wine_ok
      wineserver -p </dev/null >/dev/null 2>&1
      /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
    fi
  fi
fi
