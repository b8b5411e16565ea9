#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
#
# Headless, in the Wine prefix PREFIX (created on first use, once, even when
# several tests start at the same moment), silent except for the loader's
# errors, so that a DLL that cannot be found is named. The exit code is the
# program's.
set -eu
prefix=$1
shift
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$prefix" WINEARCH=win64
# Wine wants a home; CI may run without one.
export HOME="${HOME:-$(dirname "$prefix")}"
export WINEDEBUG="${QAV_WINEDEBUG:--all,err+module}"
# No Mono or Gecko installer on prefix creation.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Debian keeps the 64-bit loader out of PATH; /usr/bin/wine would look for
# the 32-bit one first.
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/.qav-ready" ]; then
  (
    flock 9
    if [ ! -f "$prefix/.qav-ready" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      # wineboot returns before the prefix is written to disk.
      wineserver --wait || true
      [ -f "$prefix/system.reg" ] || { echo "wine-run.sh: could not create the Wine prefix $prefix" >&2; exit 1; }
      touch "$prefix/.qav-ready"
    fi
  ) 9>"$prefix.lock"
fi
exec "$wine" "$@"
