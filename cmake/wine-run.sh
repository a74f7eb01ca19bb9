#!/bin/sh
# Runs a Windows console program under Wine with no display and no Wine
# chatter, so that its standard output, standard error and exit status are the
# program's own. Used as CMAKE_CROSSCOMPILING_EMULATOR (ctest, and
# gtest_discover_tests at build time).
#
#   WINE        the Wine loader (default: /usr/lib/wine/wine64, Debian's wine64)
#   WINEPREFIX  the folder for Wine's files (about 700 MiB), made on first use,
#               with WINEPREFIX.lock and WINEPREFIX.tmp beside it; required, so
#               that they lie where their owner will find and remove them (the
#               Windows build sets its own folder's wine/). Wine refuses a
#               prefix that is relative or not owned by the caller.
set -eu

wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${wine%/*}/wineserver
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run.sh: set WINEPREFIX to the absolute path of a folder for Wine's files" >&2
  exit 125
fi
WINEDEBUG=-all
# No Mono/Gecko installer prompts, no desktop menu entries, and no crash
# debugger (it would print a register dump to the program's standard output).
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# Wine decodes command-line arguments and file names with the Unix locale:
# under LANG=C or no LANG at all, UTF-8 arguments arrive garbled.
LC_ALL=C.UTF-8
# Debian's Wine server keeps its socket in a folder it makes under TMPDIR and
# never removes: beside the prefix, that folder goes with it.
TMPDIR=$WINEPREFIX.tmp
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LC_ALL TMPDIR
unset DISPLAY WAYLAND_DISPLAY

# Wine's background processes (wineserver, services.exe, winedevice.exe...)
# inherit the standard output and error of the program that started them and
# outlive it, so ctest, which reads until end of file, would wait for them.
# Start them here with /dev/null instead, under a lock so that parallel tests
# neither race to create the prefix nor start them twice (and they must not
# inherit the lock, or it is held until they exit). Creating a prefix
# also prints "wine: created the configuration directory" to standard error.
mkdir -p "${WINEPREFIX%/*}" "$TMPDIR"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
    "$wineserver" -w 9>&- # the registry reaches the disk when the server exits
  fi
  # Exit status 0: no server was running for this prefix and one is started,
  # which stays 60 s after the last program ends. 2: one is running already.
  if "$wineserver" -p60 </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

exec "$wine" "$@"
