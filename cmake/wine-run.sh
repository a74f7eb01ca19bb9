#!/bin/sh
# Runs a Windows console program under Wine with no display and no Wine chatter,
# so that its standard output, standard error and exit status are the program's
# own. Used as CMAKE_CROSSCOMPILING_EMULATOR by ctest and gtest_discover_tests.
#
# WINE      the Wine loader (default: /usr/lib/wine/wine64, Debian's wine64)
# WINEPREFIX  the Wine prefix (default: a per-user one under ${TMPDIR:-/tmp});
#             Wine refuses a prefix that is relative or not owned by the caller.
set -eu

wine=${WINE:-/usr/lib/wine/wine64}
WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/reelmake-wine-$(id -u)}
WINEDEBUG=-all
# No Mono/Gecko installer prompts, no desktop menu entries.
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY

# Wine prints "wine: created the configuration directory ..." to standard
# error on the first start of a prefix; create it once, under a lock so that
# parallel ctest jobs do not race, with all of that noise thrown away.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      # The registry is written to disk only when the wineserver exits.
      "${wine%/*}/wineserver" -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec "$wine" "$@"
