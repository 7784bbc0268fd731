#!/usr/bin/env bash
# Runs a Windows program that makes windows under Wine, on an X server of
# its own (Xvfb, 24 bits), in a Wine prefix kept for such programs.
# The shared prefix's desktop belongs to the display of whichever process
# first asked for it (often none); this prefix's desktop is made for the
# program's X server, and its wineserver is stopped when the program ends.
# One program at a time per prefix. --here: on the current display instead.
# The prefix has Wine's own fonts (Debian's fonts-wine: Tahoma for the
# dialogs' "MS Shell Dlg"), as a Wine that finds them has.
# --dpi N: the screen's scaling, as Wine's LogPixels in the prefix (96 is
# 100 %, 144 is 150 %, 192 is 200 %); KESTREL_DPI, else 96, when not given.
# The private screen grows with it: 800x650 at 96, 1600x1300 at 192.
#   wine-gui.sh [--here] [--dpi N] PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
private=yes
dpi=${KESTREL_DPI:-96}
while [ $# -gt 0 ]; do
  case "$1" in
    --here) private= ;;
    --dpi) dpi=${2:?--dpi needs a value}; shift ;;
    *) break ;;
  esac
  shift
done
if ! [[ "$dpi" =~ ^[0-9]+$ ]] || [ "$dpi" -lt 48 ] || [ "$dpi" -gt 480 ]; then
  echo "wine-gui.sh: --dpi takes 48 to 480, not $dpi" >&2
  exit 2
fi
run=()
[ -n "$private" ] && run=(xvfb-run -a -s "-screen 0 $((800 * dpi / 96))x$((650 * dpi / 96))x24")
prefix=$(realpath -m "$1")
shift
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
# Boots the prefix when it is missing or its boot was cut short. The
# server it starts does not hold the lock (9>&-): a step that fails before
# it is stopped again leaves no later run waiting.
"$here/wine-prefix.sh" up "$prefix" 9>&-
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# Debian 12's Wine 8 does not look for them in /usr/share/wine/fonts, where
# the package puts them, and draws every dialog in DejaVu Sans instead; it
# finds them in the prefix's own font folder.
fonts=$prefix/drive_c/windows/Fonts
for font in /usr/share/wine/fonts/*; do
  if [ -e "$font" ] && [ ! -e "$fonts/${font##*/}" ]; then ln -s "$font" "$fonts/"; fi
done
# The scaling Wine reads at start (what winecfg's "Screen resolution" sets),
# written only when it differs.
set_dpi=$(printf 'dword:%08x' "$dpi")
current=$(awk '/^\[/ { desktop = ($0 ~ /^\[Control Panel\\\\Desktop\]/) }
  desktop && /^"LogPixels"=/ { sub(/^"LogPixels"=/, ""); print }' "$prefix/user.reg")
if [ "$current" != "$set_dpi" ] && [ ! \( -z "$current" -a "$dpi" = 96 \) ]; then
  /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 9>&-
fi
"$here/wine-prefix.sh" down "$prefix"
"${run[@]}" bash -c \
  '/usr/lib/wine/wine64 "$@"; status=$?; /usr/lib/wine/wineserver -k 2>/dev/null; exit $status' gui "$@"
