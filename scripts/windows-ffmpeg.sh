#!/usr/bin/env bash
# FFmpeg for Windows, built from the Debian source of the installed FFmpeg
# (and dav1d, which Debian's FFmpeg decodes AV1 with) into a cache outside
# the tree, configured with the components the engine uses
# (platform/media/windows/ffmpeg-components.txt); for x86_64 beside it
# glibc's libm functions that FFmpeg and the engine call, built from the
# Debian source of the installed glibc (lib/libglibcm.a,
# platform/media/windows/glibc-libm), so that they return what they return
# on Linux.
#   scripts/windows-ffmpeg.sh prefix ARCH   the install prefix (printed)
#   scripts/windows-ffmpeg.sh fetch ARCH    the Debian sources, unless built
#   scripts/windows-ffmpeg.sh build ARCH    fetched and built, unless built
# ARCH: x86_64 or i686. The cache is $KESTREL_CACHE, by default
# ~/.cache/kestrel; a build is kept under a key made of the source versions,
# the compiler's, the configure lines (with the component list) and the
# libm's sources and options, so a change of any of them builds anew and an
# unchanged one is reused.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:?usage: windows-ffmpeg.sh prefix|fetch|build ARCH}
arch=${2:?usage: windows-ffmpeg.sh prefix|fetch|build ARCH}
components=$here/platform/media/windows/ffmpeg-components.txt
cache=${KESTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel}

case "$arch" in
  x86_64) ff_arch=x86_64 meson_cpu=x86_64 extra_cflags="" ;;
  i686) ff_arch=x86 meson_cpu=x86 extra_cflags="-msse2 -mfpmath=sse" ;;
  *) echo "windows-ffmpeg.sh: unknown ARCH $arch" >&2; exit 2 ;;
esac
host=$arch-w64-mingw32
cc=$host-gcc-posix

# The Debian source versions of the installed libraries.
source_version() {
  dpkg-query -W -f='${Package} ${source:Version}\n' 2>/dev/null | awk -v p="$1" '$1 ~ p && !v { v = $2 } END { print v }'
}
ffmpeg_version=$(source_version '^libavcodec[0-9]+$')
dav1d_version=$(source_version '^libdav1d[0-9]+$')
glibc_version=$(source_version '^libc6$')
if [ -z "$ffmpeg_version" ] || [ -z "$dav1d_version" ] || [ -z "$glibc_version" ]; then
  echo "windows-ffmpeg.sh: libavcodec, libdav1d and libc6 must be installed (scripts/install-packages.sh)" >&2
  exit 1
fi

names() { awk -v kind="$1" '$1 == kind { print $2 }' "$components" | paste -sd, -; }
configure_line=(
  --enable-cross-compile --arch="$ff_arch" --target-os=mingw32 --cross-prefix="$host-"
  --cc="$cc" --pkg-config=pkg-config --pkg-config-flags=--static
  --disable-everything --disable-autodetect --disable-programs --disable-doc --disable-network
  --disable-avdevice --disable-avfilter --disable-postproc --disable-debug
  --enable-static --disable-shared --enable-w32threads --enable-zlib --enable-libdav1d
  --enable-demuxer="$(names demuxer)" --enable-decoder="$(names decoder),$(names external)"
  --enable-parser="$(names parser)"
)
[ -n "$(names bsf)" ] && configure_line+=(--enable-bsf="$(names bsf)")
[ -n "$extra_cflags" ] && configure_line+=(--extra-cflags="$extra_cflags")
libm_dir=$here/platform/media/windows/glibc-libm
[ "$arch" = x86_64 ] && configure_line+=(--extra-cflags="-include $libm_dir/float-calls.h")
dav1d_line=(--buildtype release --default-library static -Denable_tools=false -Denable_tests=false
  -Denable_examples=false -Denable_docs=false)
# glibc's libm: its files listed in sources.txt, compiled with the options
# Debian's glibc compiles them with (-O2, rounding math, no errno math) and
# glibc's x86_64 search path for its internal headers, behind the headers
# in include/ that stand in for glibc's build environment.
libm_flags=(-O2 -std=gnu11 -fgnu89-inline -fmerge-all-constants -frounding-math -fno-math-errno -fno-common
  -march=x86-64 -mtune=generic -Werror=implicit-function-declaration -Werror=implicit-int -include libc-symbols.h)
libm_sysdeps=(sysdeps/x86_64/fpu/multiarch sysdeps/x86_64/fpu sysdeps/x86/fpu sysdeps/x86_64 sysdeps/x86
  sysdeps/ieee754/ldbl-96 sysdeps/ieee754/dbl-64 sysdeps/ieee754/flt-32 sysdeps/ieee754 sysdeps/generic)
libm_files() { (cd "$libm_dir" && find . -path ./test -prune -o -type f -print | LC_ALL=C sort); }

key=$( {
  echo "$ffmpeg_version $dav1d_version $glibc_version $arch"
  "$cc" -dumpfullversion
  printf '%s\n' "${configure_line[@]//"$here"/.}" "${dav1d_line[@]}" "${libm_flags[@]}" "${libm_sysdeps[@]}"
  libm_files | while read -r file; do echo "$file" && cat "$libm_dir/$file"; done
} | sha256sum | cut -c1-16)
upstream=${ffmpeg_version#*:}
upstream=${upstream%%-*}
prefix=$cache/ffmpeg-$upstream-$arch-$key
sources=$cache/src

if [ "$mode" = prefix ]; then
  echo "$prefix"
  exit 0
fi
[ -f "$prefix/.built" ] && exit 0

# apt-get source into the cache, pinned to the installed versions.
fetch() {
  local package=$1 version=$2 dir=$sources/$1-${2//[:~]/_}
  if [ ! -f "$dir/.fetched" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && apt-get source -qq "$package=$version" >"$dir.log" 2>&1) || { cat "$dir.log" >&2; exit 1; }
    touch "$dir/.fetched"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}
ffmpeg_src=$(fetch ffmpeg "$ffmpeg_version")
dav1d_src=$(fetch dav1d "$dav1d_version")
glibc_src=$(fetch glibc "$glibc_version")
[ "$mode" = fetch ] && exit 0

work=$(mktemp -d "$cache/build-XXXXXX")
trap 'rm -rf "$work"' EXIT
start=$(date +%s)
jobs=$(nproc)

# dav1d: static, with its assembly, through meson with a cross file.
cat >"$work/cross.meson" <<EOF
[binaries]
c = '$cc'
ar = '$host-ar'
strip = '$host-strip'
[properties]
needs_exe_wrapper = true
[host_machine]
system = 'windows'
cpu_family = '$meson_cpu'
cpu = '$arch'
endian = 'little'
EOF
meson setup "$work/dav1d" "$dav1d_src" --cross-file "$work/cross.meson" --prefix "$work/install" --libdir lib \
  "${dav1d_line[@]}" >"$work/dav1d.log" 2>&1 ||
  { tail -n 30 "$work/dav1d.log" >&2; exit 1; }
ninja -C "$work/dav1d" -j "$jobs" install >>"$work/dav1d.log" 2>&1 || { tail -n 30 "$work/dav1d.log" >&2; exit 1; }

# FFmpeg: static, Windows threads, nasm assembly, zlib for PNG.
mkdir -p "$work/ffmpeg"
(cd "$work/ffmpeg" && PKG_CONFIG_LIBDIR="$work/install/lib/pkgconfig" \
  "$ffmpeg_src/configure" --prefix="$work/install" "${configure_line[@]}" >"$work/ffmpeg.log" 2>&1) ||
  { tail -n 30 "$work/ffmpeg.log" "$work/ffmpeg/ffbuild/config.log" >&2; exit 1; }
make -C "$work/ffmpeg" -j "$jobs" install >>"$work/ffmpeg.log" 2>&1 || { tail -n 30 "$work/ffmpeg.log" >&2; exit 1; }

# glibc's libm, x86_64 only: on i686 glibc computes these functions with
# x87 code of its own.
if [ "$arch" = x86_64 ]; then
  libm_start=$(date +%s)
  libm_line=("${libm_flags[@]}" -I"$libm_dir/include" -I"$libm_dir")
  for dir in "${libm_sysdeps[@]}"; do libm_line+=(-I"$glibc_src/$dir"); done
  libm_line+=(-idirafter "$glibc_src/include" -idirafter "$glibc_src/math" -idirafter "$glibc_src")
  mkdir -p "$work/libm"
  running=()
  libm_failed=0
  while read -r path extra; do
    case "$path" in
      '' | '#'*) continue ;;
      */*) source=$glibc_src/$path ;;
      *) source=$libm_dir/$path ;;
    esac
    # shellcheck disable=SC2086 # the file's own options
    "$cc" "${libm_line[@]}" $extra -c "$source" -o "$work/libm/${path//\//_}.o" </dev/null >>"$work/libm.log" 2>&1 &
    running+=($!)
    if [ ${#running[@]} -ge "$jobs" ]; then
      wait "${running[0]}" || libm_failed=1
      running=("${running[@]:1}")
    fi
  done <"$libm_dir/sources.txt"
  for pid in "${running[@]}"; do wait "$pid" || libm_failed=1; done
  [ $libm_failed -eq 0 ] || { tail -n 30 "$work/libm.log" >&2; exit 1; }
  "$host-ar" rcs "$work/install/lib/libglibcm.a" "$work/libm/"*.o
  # Every member links: nothing it calls is missing.
  echo 'int main (void) { return 0; }' >"$work/libm/main.c"
  "$cc" -o "$work/libm/main.exe" "$work/libm/main.c" -Wl,--whole-archive "$work/install/lib/libglibcm.a" \
    -Wl,--no-whole-archive >>"$work/libm.log" 2>&1 || { tail -n 30 "$work/libm.log" >&2; exit 1; }
  cp "$libm_dir/glibc-libm.h" "$work/install/include/"
  echo "windows-ffmpeg.sh: glibc $glibc_version's libm built in $(( $(date +%s) - libm_start )) s" >&2
fi

# The pkg-config files name the folder they were installed to: they move
# with it.
sed -i "s|$work/install|$prefix|g" "$work/install/lib/pkgconfig/"*.pc
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
mv "$work/install" "$prefix"
touch "$prefix/.built"
echo "windows-ffmpeg.sh: FFmpeg $upstream for $arch built in $(( $(date +%s) - start )) s into $prefix" >&2
