#!/usr/bin/env bash
# Runs a Windows program that makes windows under Wine, on an X server of
# its own (Xvfb, 800x650, 24 bits), in a Wine prefix kept for such programs.
# The shared prefix's desktop belongs to the display of whichever process
# first asked for it (often none); this prefix's desktop is made for the
# program's X server, and its wineserver is stopped when the program ends.
# One program at a time per prefix. --here: on the current display instead.
#   wine-gui.sh [--here] PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run=(xvfb-run -a -s "-screen 0 800x650x24")
if [ "$1" = --here ]; then
  run=()
  shift
fi
prefix=$(realpath -m "$1")
shift
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
# Boots the prefix when it is missing or its boot was cut short.
"$here/wine-prefix.sh" up "$prefix"
"$here/wine-prefix.sh" down "$prefix"
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
"${run[@]}" bash -c \
  '/usr/lib/wine/wine64 "$@"; status=$?; /usr/lib/wine/wineserver -k 2>/dev/null; exit $status' gui "$@"
