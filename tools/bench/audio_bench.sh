#!/usr/bin/env bash
# Extracting ten minutes of AAC stereo to 16-bit PCM: Kestrel's
# AudioExtractor beside `ffmpeg -i FILE -f s16le -y /dev/null`, same file,
# same run.
#   tools/bench/audio_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$here/build}")
work=$build/bench
mkdir -p "$work"
movie=$work/aac_10min.m4a
if [ ! -s "$movie" ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=600" \
    -c:a aac -b:a 128k "$movie"
fi
echo "file: $movie ($(stat -c %s "$movie") bytes)"
KESTREL_BUILD=$build "$here/kestrel" bench-audio "$movie" 3
for i in 1 2 3; do
  /usr/bin/time -f "ffmpeg -f s16le: %e s" ffmpeg -nostdin -hide_banner -loglevel error -i "$movie" -f s16le -y /dev/null
done
