#!/usr/bin/env bash
# A fragmented MP4 of five hours (64x48 H.264 at 25 frames a second with
# AAC sound, a fragment at every key frame: about 450,000 video samples in
# 4,500 fragments), made once into the build tree. Kestrel's opens of a load
# and its seeks near the end beside ffprobe and ffmpeg on the same file; the
# frame after the seek is compared with ffmpeg's.
#   tools/bench/fragmented_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$here/build}")
work=$build/bench
mkdir -p "$work"
movie=$work/fragmented_5h.mp4
ff="ffmpeg -nostdin -hide_banner -loglevel error -y"
if [ ! -s "$movie" ]; then
  # One minute, then its packets looped for five hours and a minute.
  $ff -f lavfi -i testsrc2=size=64x48:rate=25:duration=60 -f lavfi -i sine=frequency=440:sample_rate=22050:duration=60 \
    -c:v libx264 -preset veryfast -bf 2 -g 100 -pix_fmt yuv420p -c:a aac -b:a 32k "$work/minute.mp4"
  $ff -stream_loop -1 -i "$work/minute.mp4" -t 18060 -c copy -movflags frag_keyframe+empty_moov+default_base_moof \
    "$movie.tmp.mp4"
  mv "$movie.tmp.mp4" "$movie"
fi
fragments=$(python3 - "$movie" <<'PY'
import struct, sys
f = open(sys.argv[1], 'rb')
end = f.seek(0, 2)
pos = count = 0
while pos + 8 <= end:
    f.seek(pos)
    size, kind = struct.unpack('>I4s', f.read(8))
    if size == 1:
        size = struct.unpack('>Q', f.read(8))[0]
    if size < 8:
        break
    count += kind == b'moof'
    pos += size
print(count)
PY
)
echo "file: $movie ($(stat -c %s "$movie") bytes, $fragments fragments)"
at=18052.3  # between two key frames, 7.7 s before the end
KESTREL_BUILD=$build "$here/kestrel" bench-fragmented "$movie" $at "$work/fragmented_frame.uyvy"

seconds() { local a b; a=$(date +%s.%N); "$@" > /dev/null; b=$(date +%s.%N); echo "$a $b" | awk '{printf "%.3f", $2 - $1}'; }
echo "ffprobe -show_streams -show_format: $(seconds ffprobe -v error -show_streams -show_format "$movie") s"
echo "ffprobe -count_packets (the frame count): $(seconds ffprobe -v error -count_packets -show_streams "$movie") s"
echo "ffmpeg -ss $at, first frame: $(seconds $ff -ignore_editlist 1 -ss $at -i "$movie" -map 0:v -frames:v 1 -f null -) s"
echo "ffmpeg -ss $at, first second of sound:" \
  "$(seconds $ff -ignore_editlist 1 -ss $at -i "$movie" -map 0:a -t 1 -f null -) s"
theirs=$($ff -ignore_editlist 1 -ss $at -i "$movie" -map 0:v -frames:v 1 -pix_fmt uyvy422 -f framemd5 - |
  grep -v '^#' | awk -F', *' '{print $NF}')
ours=$(md5sum < "$work/fragmented_frame.uyvy" | cut -d' ' -f1)
echo "frame after the seek: kestrel $ours, ffmpeg $theirs: $([ "$ours" = "$theirs" ] && echo same || echo DIFFERENT)"
