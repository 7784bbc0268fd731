#!/usr/bin/env bash
# The private Wine prefix of a build tree.
#   wine-prefix.sh up PREFIX    boot it once, start a persistent wineserver
#   wine-prefix.sh down PREFIX  stop that prefix's wineserver
set -euo pipefail
action=$1
export WINEPREFIX=$(realpath -m "$2")
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
case "$action" in
  up)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      WINEDLLOVERRIDES="mscoree=;mshtml=" "$WINE" wineboot -i </dev/null >/dev/null 2>&1
      "$WINESERVER" -w
    fi
    # -p keeps the server up between programs; a second call is harmless.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
    ;;
  down)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 up|down PREFIX" >&2
    exit 2
    ;;
esac
