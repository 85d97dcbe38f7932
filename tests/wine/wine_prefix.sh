#!/usr/bin/env bash
# wine_prefix.sh up|down: creates a fresh Wine prefix for the Wine cases and starts its server,
# or stops that server again. Only the server of this prefix is touched.
source "$(dirname "$0")/wine_lib.sh"

case "${1:-}" in
  up)
    [ -f "$TTYPROG_EXE" ] || fail "no $TTYPROG_EXE: cross-build it first (cmake --preset windows)"
    if [ -d "$WINEPREFIX" ]; then
      wineserver_run -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINE_WORK"
    wine_run wineboot -i </dev/null >"$WINE_WORK/wineboot.log" 2>&1
    wineserver_run -w
    # Then one server for all cases, kept running, its output in a file: Wine's helper processes
    # keep inherited pipes open for seconds, and the server prints its object table when a
    # terminal it holds hangs up.
    wineserver_run -p </dev/null >"$WINE_WORK/wineserver.log" 2>&1
    [ -d "$WINEPREFIX/dosdevices" ] || fail "wineboot made no prefix, see $WINE_WORK/wineboot.log"
    ;;
  down)
    wineserver_run -k 2>/dev/null || true
    ;;
  *)
    fail "usage: wine_prefix.sh up|down"
    ;;
esac
