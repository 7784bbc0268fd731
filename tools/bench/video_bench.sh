#!/usr/bin/env bash
# 1080p H.264 with B-frames, 60 s: Kestrel's ProduceFrame to UYVY at normal
# quality beside the same conversion by the ffmpeg tool,
# ffmpeg -i FILE -sws_flags neighbor -pix_fmt uyvy422 -f null -, in the same
# run, then seeks.
#   tools/bench/video_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$here/build}")
work=$build/bench
mkdir -p "$work"
movie=$work/h264_1080p_60s.mov
if [ ! -s "$movie" ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 \
    -c:v libx264 -preset veryfast -bf 3 -g 50 -pix_fmt yuv420p "$movie"
fi
echo "file: $movie ($(stat -c %s "$movie") bytes)"
out=$(KESTREL_BUILD=$build "$here/kestrel" bench-video "$movie")
echo "$out"
start=$(date +%s.%N)
ffmpeg -nostdin -hide_banner -loglevel error -i "$movie" -sws_flags neighbor -pix_fmt uyvy422 -f null -
end=$(date +%s.%N)
frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$movie")
ours=$(echo "$out" | sed -n 's/.*: \([0-9.]*\) frames per second/\1/p')
awk -v f="$frames" -v a="$start" -v b="$end" -v k="$ours" 'BEGIN {
  s = b - a; r = f / s; printf "ffmpeg -sws_flags neighbor -pix_fmt uyvy422 -f null: %d frames in %.3f s: %.1f frames per second\n", f, s, r;
  printf "ratio kestrel / ffmpeg: %.2f\n", k / r }'
