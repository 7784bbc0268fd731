#!/usr/bin/env bash
# Speed through the filter graph, as a table of ratios. Every figure is
# measured ROUNDS times (default 3), interleaved; the table gives the best
# and the spread (worst to best).
#  - 1080p H.264 with B-frames (testsrc, 30 s, libx264 -preset fast -bf 3)
#    to UYVY into a Sample Grabber and a Null Renderer without a clock:
#    Kestrel at normal and at high quality, Wine's own GStreamer parser in
#    Kestrel's place, beside ffmpeg decoding only, converting as
#    `-sws_flags neighbor` and converting with its default; and the same
#    movie turned a quarter by its track matrix (a phone's portrait
#    recording, delivered upright at 1080 x 1920) at normal quality;
#  - 4K HEVC Main 10 (testsrc2, 10 s, libx265 -preset ultrafast) to UYVY at
#    normal quality beside ffmpeg decoding only;
#  - ten minutes of AAC stereo to 16-bit PCM through the graph beside
#    ffmpeg -f s16le;
#  - seeks to 20 positions (a fixed random state): SetPositions on the
#    running graph to the first sample at or after the position arriving
#    at the grabber, beside ffmpeg -ss T -i FILE -frames:v 1 (accurate seek).
# Kestrel's and Wine's times run from IMediaControl::Run to EC_COMPLETE (the
# graph built, the file open); ffmpeg's are its own -benchmark real time
# (the decoding loop, without the process start). Wine's parser needs
# GStreamer's plugins: they are installed when missing.
#   tools/bench/graph_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$here/build}")
rounds=${2:-3}
work=$build/bench
mkdir -p "$work"
ff="ffmpeg -nostdin -hide_banner"

gst=(gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav)
missing=()
for p in "${gst[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing (for Wine's parser): ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi

movie=$work/h264_1080p_30s.mov
if [ ! -s "$movie" ]; then
  $ff -loglevel error -y -f lavfi -i testsrc=size=1920x1080:rate=25:duration=30 -c:v libx264 -preset fast -bf 3 \
    -pix_fmt yuv420p "$movie.tmp.mov"
  mv "$movie.tmp.mov" "$movie"
fi
turned=$work/h264_1080p_30s_turn90.mov
[ -s "$turned" ] || python3 "$here/scripts/fixtures/track_matrix.py" "$movie" "$turned" 0 1 -1 0 1080 0
uhd=$work/hevc10_2160p_10s.mp4
if [ ! -s "$uhd" ]; then
  $ff -loglevel error -y -f lavfi -i testsrc2=size=3840x2160:rate=25:duration=10 -c:v libx265 -preset ultrafast \
    -x265-params log-level=error -pix_fmt yuv420p10le -tag:v hvc1 "$uhd.tmp.mp4"
  mv "$uhd.tmp.mp4" "$uhd"
fi
sound=$work/aac_10min.m4a
if [ ! -s "$sound" ]; then
  $ff -loglevel error -y -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=600" \
    -c:a aac -b:a 128k "$sound.tmp.m4a"
  mv "$sound.tmp.m4a" "$sound"
fi
positions=$(python3 -c "
import random
r = random.Random(16)
print(','.join('%.3f' % (r.random() * 29.9) for _ in range(20)))")

graph() { KESTREL_BUILD=$build "$here/kestrel" bench-graph "$@" || true; }
# ffmpeg's own real time of its loop, in seconds.
ffrt() { $ff -loglevel info -benchmark "$@" 2>&1 | sed -n 's/^bench: utime=.* rtime=\([0-9.]*\)s$/\1/p'; }

results=$work/graph_bench.txt
: > "$results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
graph --source wine "$movie" > /dev/null  # GStreamer's first start builds its plugin registry
for round in $(seq "$rounds"); do
  echo "round $round of $rounds" >&2
  {
    echo "ff_null $(ffrt -i "$movie" -f null -)"
    echo "ff_neighbor $(ffrt -i "$movie" -sws_flags neighbor -pix_fmt uyvy422 -f null -)"
    echo "ff_default $(ffrt -i "$movie" -pix_fmt uyvy422 -f null -)"
    echo "wine $(graph --source wine --format UYVY "$movie")"
    echo "normal $(graph --format UYVY --quality 512 "$movie")"
    echo "high $(graph --format UYVY --quality 768 "$movie")"
    echo "turned $(graph --format UYVY --quality 512 "$turned")"
    echo "ff_null_uhd $(ffrt -i "$uhd" -f null -)"
    echo "uhd $(graph --format UYVY --quality 512 "$uhd")"
    echo "ff_s16le $(ffrt -i "$sound" -f s16le -y /dev/null)"
    echo "audio $(graph "$sound")"
    echo "wine_audio $(graph --source wine "$sound")"
    echo "seek $(graph --seek "$positions" "$movie")"
    echo "wine_seek $(graph --source wine --seek "$positions" "$movie")"
    for t in ${positions//,/ }; do
      echo "ff_seek $t $(ffrt -ss "$t" -i "$movie" -frames:v 1 -f null -)"
    done
  } >> "$results"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
count() { ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
frames=$(count "$movie")
uhd_frames=$(count "$uhd")

python3 - "$results" "$frames" "$rounds" "$(nproc)" "$load_before" "$load_after" "$movie" "$sound" "$uhd" \
  "$uhd_frames" <<'PY'
import json, sys
path, frames, rounds, cores, before, after, movie, sound, uhd, uhd_frames = sys.argv[1:]
frames = int(frames)
uhd_frames = int(uhd_frames)
runs = {}
ff_seek = {}
for line in open(path):
    key, _, rest = line.rstrip('\n').partition(' ')
    if key == 'ff_seek':
        t, _, v = rest.partition(' ')
        ff_seek.setdefault(t, []).append(float(v) if v else None)
        continue
    if rest.startswith('{'):
        runs.setdefault(key, []).append(json.loads(rest))
    else:
        runs.setdefault(key, []).append(float(rest) if rest else None)

def error(key):
    for r in runs.get(key, []):
        if isinstance(r, dict) and 'error' in r:
            return r['error']
    return None

def fps_list(key, count=frames):
    out = []
    for r in runs.get(key, []):
        if isinstance(r, dict):
            if 'seconds' in r and r['seconds'] > 0 and r.get('frames'):
                out.append(r['frames'] / r['seconds'])
        elif r:
            out.append(count / r)
    return out

def speed_list(key, seconds_of_sound=600.0):
    out = []
    for r in runs.get(key, []):
        if isinstance(r, dict):
            if r.get('seconds'):
                out.append(r.get('audio_seconds', 0) / r['seconds'])
        elif r:
            out.append(seconds_of_sound / r)
    return out

def cell(values, unit):
    if not values:
        return 'n/a'
    best, worst = max(values), min(values)
    return '%.0f %s (%.0f-%.0f)' % (best, unit, worst, best)

print('Kestrel through the graph: %s cores (%s), %s round(s), load average %s before, %s after' %
      (cores, open('/proc/cpuinfo').read().split('model name')[1].split(':')[1].split('\n')[0].strip()
       if 'model name' in open('/proc/cpuinfo').read() else 'cpu', rounds, before, after))
print()
print('1080p H.264 with B-frames to UYVY, %d frames (%s): frames per second, best (spread)' % (frames, movie))
rows = [('ffmpeg -f null - (decoding only)', 'ff_null'),
        ('ffmpeg -sws_flags neighbor -pix_fmt uyvy422 -f null -', 'ff_neighbor'),
        ('ffmpeg -pix_fmt uyvy422 -f null - (bicubic)', 'ff_default'),
        ("Wine's GStreamer parser in the graph", 'wine'),
        ('Kestrel, normal quality', 'normal'),
        ('Kestrel, high quality', 'high'),
        ('Kestrel, normal quality, turned 90 degrees (1080 x 1920)', 'turned')]
best = {}
def table(rows, count=frames):
    for name, key in rows:
        values = fps_list(key, count)
        best[key] = max(values) if values else None
        why = error(key)
        print('| %-56s | %s |' % (name, cell(values, 'fps') if values else 'cannot play: ' + (why or 'no result')))
    print()
table(rows)
print('4K HEVC Main 10 to UYVY, %d frames (%s): frames per second, best (spread)' % (uhd_frames, uhd))
table([('ffmpeg -f null - (decoding only)', 'ff_null_uhd'), ('Kestrel, normal quality', 'uhd')], uhd_frames)

def ratio(name, a, b, goal=None):
    if not (best.get(a) and best.get(b)):
        print('| %-56s | n/a |' % name)
    elif goal is None:
        print('| %-56s | %.2fx |' % (name, best[a] / best[b]))
    else:
        r = best[a] / best[b]
        print('| %-56s | %.2fx | goal >= %.2f | %s |' % (name, r, goal, 'met' if r >= goal else 'NOT met'))

print('Ratios of the best figures:')
ratio("Kestrel normal / Wine's parser", 'normal', 'wine', 1.2)
ratio('Kestrel normal / ffmpeg -f null', 'normal', 'ff_null', 0.8)
ratio('Kestrel normal / ffmpeg -sws_flags neighbor', 'normal', 'ff_neighbor')
ratio('Kestrel high / ffmpeg -pix_fmt uyvy422 (default)', 'high', 'ff_default', 1.0)
ratio('Kestrel turned / unturned (at most 15 % slower)', 'turned', 'normal', 1 / 1.15)
ratio('Kestrel 4K Main 10 / ffmpeg -f null', 'uhd', 'ff_null_uhd', 0.8)
print()

print('Ten minutes of AAC stereo to 16-bit PCM (%s): times real time, best (spread)' % sound)
for name, key in [('ffmpeg -f s16le', 'ff_s16le'), ('Kestrel through the graph', 'audio'),
                  ("Wine's GStreamer parser through the graph", 'wine_audio')]:
    values = speed_list(key)
    best[key] = max(values) if values else None
    print('| %-56s | %s |' % (name, cell(values, 'x') if values else 'cannot play: ' + (error(key) or 'no result')))
ratio('Kestrel / ffmpeg -f s16le', 'audio', 'ff_s16le', 1.0)
print()

print('Seeks to 20 positions, to the first sample: milliseconds, mean and worst, best round (spread of the means)')
def seek_cells(key):
    means = [r['mean_ms'] for r in runs.get(key, []) if isinstance(r, dict) and 'mean_ms' in r]
    worsts = [r['worst_ms'] for r in runs.get(key, []) if isinstance(r, dict) and 'worst_ms' in r]
    return means, worsts
ff_means, ff_worsts = [], []
for i in range(int(rounds)):
    per = [v[i] * 1000 for t, v in ff_seek.items() if isinstance(v, list) and len(v) > i and v[i] is not None]
    if per:
        ff_means.append(sum(per) / len(per))
        ff_worsts.append(max(per))
seeks = {'ff_seek': (ff_means, ff_worsts)}
for key in ('seek', 'wine_seek'):
    seeks[key] = seek_cells(key)
for name, key in [('ffmpeg -ss T -i FILE -frames:v 1 (its -benchmark time)', 'ff_seek'),
                  ('Kestrel, SetPositions on the running graph', 'seek'),
                  ("Wine's GStreamer parser, the same", 'wine_seek')]:
    means, worsts = seeks[key]
    if means:
        print('| %-56s | mean %.0f ms (%.0f-%.0f), worst %.0f ms |' %
              (name, min(means), min(means), max(means), min(worsts)))
    else:
        print('| %-56s | cannot seek: %s |' % (name, error(key) or 'no result'))
k, f = seeks['seek'], seeks['ff_seek']
if k[0] and f[0]:
    rm, rw = min(k[0]) / min(f[0]), min(k[1]) / min(f[1])
    print('| %-56s | %.2fx | goal <= 1.0 | %s |' % ('Kestrel / ffmpeg, mean', rm, 'met' if rm <= 1.0 else 'NOT met'))
    print('| %-56s | %.2fx | goal <= 1.0 | %s |' % ('Kestrel / ffmpeg, worst', rw, 'met' if rw <= 1.0 else 'NOT met'))
PY
