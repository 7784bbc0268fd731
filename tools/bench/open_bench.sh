#!/usr/bin/env bash
# Opening a movie of 1,000,000 video samples: Kestrel's MovieSession::Open
# beside ffprobe -show_streams on the same file, in the same run.
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
