#!/usr/bin/env bash
# Draws the page's banner, a kestrel hovering before a low sun over hills,
# as a Windows 3 bitmap (24-bit) with ImageMagick.
#   make_banner.sh OUT.bmp [WIDTH HEIGHT]
# The static shows it at its own size: 351 x 43 dialog units in pixels with
# the page's font as Wine renders "MS Shell Dlg" 8 (7 x 13 base units).
set -euo pipefail
out=$1
w=${2:-614}
h=${3:-70}
convert -size "${w}x${h}" gradient:'#f3cfa4-#fdf7ec' \
  -fill '#f6b274' -draw "circle 64,40 64,6" \
  -fill '#fbe0b8' -draw "circle 64,40 64,14" \
  -fill '#d9b48a' -draw "path 'M 0,$((h - 10)) Q 90,$((h - 24)) 190,$((h - 12)) T 380,$((h - 14)) T $w,$((h - 9)) L $w,$h L 0,$h Z'" \
  -fill '#c49a6c' -draw "path 'M 0,$((h - 4)) Q 120,$((h - 16)) 260,$((h - 5)) T $w,$((h - 6)) L $w,$h L 0,$h Z'" \
  -fill '#3d2a20' -draw "polygon 58,31 46,25 30,18 14,12 20,18 24,21 28,23 33,26 38,29 44,32 52,35 58,37" \
  -fill '#3d2a20' -draw "polygon 70,31 82,25 98,18 114,12 108,18 104,21 100,23 95,26 90,29 84,32 76,35 70,37" \
  -fill '#a4532a' -draw "polygon 58,31 48,27 36,23 42,28 50,32 58,35" \
  -fill '#a4532a' -draw "polygon 70,31 80,27 92,23 86,28 78,32 70,35" \
  -fill '#a4532a' -draw "polygon 59,28 69,28 70,38 67,47 61,47 58,38" \
  -fill '#e9c9a0' -draw "polygon 61,33 67,33 66,44 62,44" \
  -fill '#6b7a86' -draw "polygon 60,22 64,19 68,22 68,28 60,28" \
  -fill '#2a1d16' -draw "polygon 63,27 65,27 64,30" \
  -fill '#a4532a' -draw "polygon 61,47 67,47 73,61 55,61" \
  -fill '#2a1d16' -draw "polygon 56,58 72,58 73,61 55,61" \
  -fill none -stroke '#b5562a' -draw "rectangle 0,0 $((w - 1)),$((h - 1))" \
  -type TrueColor "BMP3:$out"
