#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing
# (GStreamer's plugins among them: Wine's own parser plays through them,
# and the source-choice test measures Kestrel against it), and fetches the
# Debian sources of FFmpeg and dav1d that the engine's Windows build is
# made from (scripts/windows-ffmpeg.sh), unless that build is already in
# the cache.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
packages=(
  build-essential cmake ninja-build pkg-config python3 dpkg-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  nasm meson libz-mingw-w64-dev
  wine64 wine64-tools libwine-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  googletest libgtest-dev
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libswresample-dev
  libavutil-dev libavfilter-dev
  xvfb xauth imagemagick time fonts-wine
  wixl msitools
  clang libclang-rt-14-dev llvm-14 clang-format-14
)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Source entries beside the binary ones of the configured suites (the
# release, its updates, its security suite: the installed FFmpeg may come
# from any of them), when there are none.
has_sources() {
  grep -qhsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources
}
if ! has_sources; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  echo "Adding deb-src entries for the configured Debian suites of $codename"
  stanzas=$(for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "${f##*/}" != kestrel-deb-src.sources ] || continue
    awk -v RS= -v ORS='\n\n' -v release="$codename" '
      /(^|\n)Types:[^\n]*deb/ && $0 ~ "(^|\n)Suites:[^\n]*" release {
        sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f"
  done)
  lines=$(for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && [ "${f##*/}" != kestrel-deb-src.list ] || continue
    awk -v release="$codename" '$1 == "deb" && $0 ~ " " release "([- ]|$)" { $1 = "deb-src"; print }' "$f"
  done)
  [ -z "$stanzas" ] || echo "$stanzas" | $SUDO tee /etc/apt/sources.list.d/kestrel-deb-src.sources >/dev/null
  [ -z "$lines" ] || echo "$lines" | $SUDO tee /etc/apt/sources.list.d/kestrel-deb-src.list >/dev/null
  $SUDO apt-get update -qq
fi
"$here/scripts/windows-ffmpeg.sh" fetch x86_64
