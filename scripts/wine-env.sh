# Source this file to get a private, ready Wine prefix for running the Windows test binaries:
#   source scripts/wine-env.sh        start (idempotent within one shell)
#   source scripts/wine-env.sh stop   stop the server and remove the prefix
# The prefix and its server are started before ctest with input and output detached: otherwise
# Wine's background services hold ctest's output pipe open. The crash debugger points at a program
# that does not exist, so that a crashing test cannot exit 0.
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
    wineboot -i </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /t REG_SZ /d nonexistent-debugger.exe /f </dev/null >/dev/null 2>&1
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
  fi
fi
