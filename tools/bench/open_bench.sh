#!/usr/bin/env bash
# Opening a movie of 1,000,000 video samples: Kestrel's MovieSession::Open
# beside ffprobe -show_streams on the same file, in the same run. Then a
# movie over 4 GiB with 64-bit chunk offsets (two hours of small H.264 and
# AAC, a sparse file: scripts/fixtures/large_movie.py): the open, and the
# filter's whole Load, beside ffprobe.
#   tools/bench/open_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$here/build}")
work=$build/bench
mkdir -p "$work"
movie=$work/million.mov
if [ ! -s "$movie" ]; then
  ff="ffmpeg -nostdin -hide_banner -loglevel error -y"
  # 1,000 tiny frames, then the same packets looped a thousand times.
  $ff -f lavfi -i testsrc2=size=32x32:rate=1000:duration=1 -c:v mjpeg -q:v 20 "$work/thousand.mov"
  $ff -stream_loop 999 -i "$work/thousand.mov" -c copy "$movie"
fi
echo "file: $movie ($(stat -c %s "$movie") bytes)"
export KESTREL_BUILD=$build
"$here/kestrel" bench-open "$movie" 3
# Peak memory of the whole process, with and without one open movie.
base=$( { /usr/bin/time -f %M "$here/kestrel" bench-open "$movie" 0 >/dev/null; } 2>&1 | tail -1)
peak=$( { /usr/bin/time -f %M "$here/kestrel" bench-open "$movie" 1 >/dev/null; } 2>&1 | tail -1)
echo "kestrel peak resident: $peak KiB, $((peak - base)) KiB above the started engine" \
     "($(( (peak - base) * 1024 / 1000000 )) bytes per sample)"
/usr/bin/time -f "ffprobe -show_streams: %e s, peak resident %M KiB" \
  ffprobe -v error -show_streams "$movie" > /dev/null

large=$work/large_2h.mov
if [ ! -s "$large" ]; then
  ff="ffmpeg -nostdin -hide_banner -loglevel error -y"
  $ff -f lavfi -i testsrc2=size=64x48:rate=25:duration=60 -f lavfi -i sine=frequency=440:sample_rate=22050:duration=60 \
    -c:v libx264 -preset veryfast -bf 2 -g 50 -pix_fmt yuv420p -c:a aac -b:a 32k "$work/minute.mov"
  $ff -stream_loop 119 -i "$work/minute.mov" -c copy "$work/two_hours.mov"
  python3 "$here/scripts/fixtures/large_movie.py" "$work/two_hours.mov" "$large.tmp"
  mv "$large.tmp" "$large"
  rm -f "$work/two_hours.mov"
fi
echo
echo "file: $large ($(stat -c %s "$large") bytes, $(du -k "$large" | cut -f1) KiB on disk)"
"$here/kestrel" bench-open "$large" 3
"$here/kestrel" bench-open --load "$large" 3
seconds() { local a b; a=$(date +%s.%N); "$@" > /dev/null; b=$(date +%s.%N); echo "$a $b" | awk '{printf "%.3f", $2 - $1}'; }
echo "ffprobe -show_streams, three runs: $(for i in 1 2 3; do echo -n "$(seconds ffprobe -v error -show_streams "$large") s "; done)"
