#!/usr/bin/env bash
# The private Wine prefix of a build tree.
#   wine-prefix.sh up PREFIX [BIN]  boot it once, start a persistent wineserver
#                               and, from BIN, the keep-alive process
#   wine-prefix.sh down PREFIX  stop that prefix's wineserver
set -euo pipefail
if [ $# -lt 2 ] || [ -z "$2" ]; then
  echo "usage: $0 up|down PREFIX [BIN]" >&2
  exit 2
fi
action=$1
export WINEPREFIX=$(realpath -m "$2")
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
case "$action" in
  up)
    # A prefix whose boot was cut short (no registry, or no system folder)
    # is made again: Wine cannot start in it.
    booted() { [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; }
    attempt=0
    while ! booted; do
      attempt=$((attempt + 1))
      if [ $attempt -gt 2 ]; then
        echo "wine-prefix.sh: cannot boot $WINEPREFIX" >&2
        exit 1
      fi
      "$WINESERVER" -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
      mkdir -p "$WINEPREFIX"
      log=$(WINEDLLOVERRIDES="mscoree=;mshtml=" "$WINE" wineboot -i </dev/null 2>&1) ||
        printf 'wine-prefix.sh: wineboot failed in %s:\n%s\n' "$WINEPREFIX" "$log" >&2
      "$WINESERVER" -w || true
    done
    # The documents folder (where the filter logs) inside the prefix, not
    # the user's home.
    docs="$WINEPREFIX/drive_c/users/$(whoami)/Documents"
    if [ -L "$docs" ]; then rm "$docs" && mkdir -p "$docs"; fi
    # -p keeps the server up between programs; a second call is harmless.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
    # The first Wine process starts the prefix's services and they inherit
    # its standard handles: make it one with none, kept running, so that no
    # caller's output pipe stays open behind a test.
    bin=${3:-}
    if [ -n "$bin" ] && [ -f "$bin/kestrel-prefix-keepalive.exe" ]; then
      setsid "$WINE" "$bin/kestrel-prefix-keepalive.exe" </dev/null >/dev/null 2>&1 &
      sleep 0.5
    fi
    ;;
  down)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 up|down PREFIX" >&2
    exit 2
    ;;
esac
