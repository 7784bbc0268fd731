#!/usr/bin/env python3
"""Small movies that cost much to open or play: long edit lists, many
tracks, many fragments, deep nesting, huge counts in every table, large
declared pictures, times near the end of 64 bits. Each is at most 2 MB.

    make-costly.py SOURCE OUT

SOURCE is a short MP4 with its movie atom first, one video and one sound
track (the fixtures' malformed_av.mp4, scripts/fixtures/malformed.sh); its
sample descriptions and sample bytes go into every file. Writes OUT/NAME.mov
and OUT/costly.txt, one line per file: "NAME WHAT". Deterministic.
"""
import os
import struct
import sys

LIMIT = 2 << 20  # bytes a file may have
CONTAINERS = {b'moov', b'trak', b'mdia', b'minf', b'stbl', b'edts'}


def atom(kind, *parts):
    body = b''.join(parts)
    return struct.pack('>I4s', 8 + len(body), kind) + body


def full(kind, version, flags, *parts):
    return atom(kind, struct.pack('>I', (version << 24) | flags), *parts)


def parse(data, start, end):
    """{type: [(body start, end)]} of the atoms between start and end,
    and of their children inside the containers."""
    found = {}
    while start + 8 <= end:
        size, kind = struct.unpack('>I4s', data[start:start + 8])
        if size < 8 or start + size > end:
            break
        found.setdefault(kind, []).append((start + 8, start + size))
        if kind in CONTAINERS:
            for k, v in parse(data, start + 8, start + size).items():
                found.setdefault(k, []).extend(v)
        start += size
    return found


class SourceTrack:
    """One track of the source: its handler, time scale, sample entry
    ('stsd' payload) and samples (bytes, duration, sync)."""

    def __init__(self, data, trak):
        atoms = parse(data, trak[0], trak[1])
        body = lambda kind: data[atoms[kind][0][0]:atoms[kind][0][1]]
        self.handler = body(b'hdlr')[8:12]
        mdhd = body(b'mdhd')
        self.timescale = struct.unpack('>I', mdhd[12:16] if mdhd[0] == 0 else mdhd[20:24])[0]
        self.stsd = body(b'stsd')
        stsz = body(b'stsz')
        size, count = struct.unpack('>II', stsz[4:12])
        sizes = [size] * count if size else list(struct.unpack('>%dI' % count, stsz[12:12 + 4 * count]))
        stco = body(b'stco')
        offsets = list(struct.unpack('>%dI' % struct.unpack('>I', stco[4:8])[0], stco[8:]))
        stsc = body(b'stsc')
        runs = [struct.unpack('>III', stsc[8 + 12 * i:20 + 12 * i]) for i in range(struct.unpack('>I', stsc[4:8])[0])]
        stts = body(b'stts')
        durations = []
        for i in range(struct.unpack('>I', stts[4:8])[0]):
            n, delta = struct.unpack('>II', stts[8 + 8 * i:16 + 8 * i])
            durations += [delta] * n
        syncs = None
        if b'stss' in atoms:
            stss = body(b'stss')
            syncs = set(struct.unpack('>%dI' % struct.unpack('>I', stss[4:8])[0], stss[8:]))
        self.samples = []
        k = 0
        for chunk, offset in enumerate(offsets, 1):
            per = [r[1] for r in runs if r[0] <= chunk][-1]
            for _ in range(per):
                if k >= count:
                    break
                self.samples.append((data[offset:offset + sizes[k]], durations[k], syncs is None or k + 1 in syncs))
                offset += sizes[k]
                k += 1
        ctts = atoms.get(b'ctts')
        self.ctts = data[ctts[0][0]:ctts[0][1]] if ctts else None
        offsets = [0] * count
        if self.ctts:
            k = 0
            for i in range(struct.unpack('>I', self.ctts[4:8])[0]):
                n, offset = struct.unpack('>Ii', self.ctts[8 + 8 * i:16 + 8 * i])
                offsets[k:k + n] = [offset] * n
                k += n
        decode = [sum(durations[:k]) for k in range(count)]
        # Display times in order: a picture is shown at each.
        self.display = sorted(decode[k] + offsets[k] for k in range(count))

    def duration(self):
        return sum(s[1] for s in self.samples)


def visual_entry(stsd, width, height):
    """The 'stsd' payload with its first entry's picture size replaced."""
    b = bytearray(stsd)
    struct.pack_into('>HH', b, 8 + 32, width, height)
    return bytes(b)


class Track:
    """A track to write: the source track's samples (or tables given
    outright), an edit list, a size for its header."""

    def __init__(self, source, track_id, stbl=None, edits=None, elst_version=0, stsd=None, width=0, height=0,
                 timescale=None, durations=None, media_duration=None):
        self.source, self.track_id = source, track_id
        self.stbl, self.edits, self.elst_version = stbl, edits, elst_version
        self.stsd = stsd if stsd is not None else source.stsd
        self.width, self.height = width, height
        self.timescale = timescale or source.timescale
        self.durations = durations
        self.media_duration = media_duration


def sample_tables(samples, data_at, durations=None, ctts=None):
    """'stts', 'ctts', 'stss', 'stsc', 'stsz', 'stco' for samples written in
    one chunk at data_at."""
    durations = durations or [s[1] for s in samples]
    runs = []
    for d in durations:
        if runs and runs[-1][1] == d:
            runs[-1][0] += 1
        else:
            runs.append([1, d])
    stts = full(b'stts', 0, 0, struct.pack('>I', len(runs)), b''.join(struct.pack('>II', n, d) for n, d in runs))
    syncs = [i + 1 for i, s in enumerate(samples) if s[2]]
    stss = full(b'stss', 0, 0, struct.pack('>I', len(syncs)), b''.join(struct.pack('>I', i) for i in syncs))
    stsc = full(b'stsc', 0, 0, struct.pack('>IIII', 1, 1, len(samples), 1))
    stsz = full(b'stsz', 0, 0, struct.pack('>II', 0, len(samples)), b''.join(struct.pack('>I', len(s[0]))
                                                                             for s in samples))
    stco = full(b'stco', 0, 0, struct.pack('>II', 1, data_at))
    return [stts] + ([atom(b'ctts', ctts)] if ctts else []) + [stss, stsc, stsz, stco]


def track_atom(t, movie_timescale, data_at):
    src = t.source
    if callable(t.stbl):
        stbl = t.stbl(data_at)
    else:
        stbl = t.stbl if t.stbl is not None else sample_tables(src.samples, data_at, t.durations, src.ctts)
    media_duration = t.media_duration if t.media_duration is not None else sum(t.durations or [src.duration()])
    duration = media_duration * movie_timescale // max(t.timescale, 1)
    if t.edits is not None:
        duration = sum(e[0] for e in t.edits)
    duration = min(duration, 0xFFFFFFFF)
    tkhd = full(b'tkhd', 0, 3, struct.pack('>IIII', 0, 0, t.track_id, 0), struct.pack('>I', duration), b'\0' * 8,
                struct.pack('>hhhH', 0, 0, 0x100 if src.handler == b'soun' else 0, 0),
                struct.pack('>9I', 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000),
                struct.pack('>II', t.width << 16, t.height << 16))
    edts = b''
    if t.edits is not None:
        if t.elst_version == 1:
            entries = b''.join(struct.pack('>qqi', d, m, r) for d, m, r in t.edits)
        else:
            entries = b''.join(struct.pack('>Iii', d, m, r) for d, m, r in t.edits)
        edts = atom(b'edts', full(b'elst', t.elst_version, 0, struct.pack('>I', len(t.edits)), entries))
    mdhd = full(b'mdhd', 0, 0, struct.pack('>IIII', 0, 0, t.timescale, min(media_duration, 0xFFFFFFFF)),
                struct.pack('>HH', 0x55C4, 0))
    hdlr = full(b'hdlr', 0, 0, b'\0' * 4, src.handler, b'\0' * 12, b'costly\0')
    header = full(b'vmhd', 0, 1, b'\0' * 8) if src.handler == b'vide' else full(b'smhd', 0, 0, b'\0' * 4)
    dinf = atom(b'dinf', full(b'dref', 0, 0, struct.pack('>I', 1), full(b'url ', 0, 1)))
    minf = atom(b'minf', header, dinf, atom(b'stbl', full(b'stsd', 0, 0, t.stsd[4:]), *stbl))
    return atom(b'trak', tkhd, edts, atom(b'mdia', mdhd, hdlr, minf))


def movie(tracks, timescale=1000, extra_moov=b'', after=b'', mvex=b''):
    """ftyp, moov, mdat: each track's source samples written once in the
    media data (tracks sharing a source share the bytes)."""
    ftyp = atom(b'ftyp', b'qt  ', struct.pack('>I', 0x200), b'qt  ')
    payload, placed = b'', {}
    for t in tracks:
        if id(t.source) not in placed:
            placed[id(t.source)] = len(payload)
            payload += b''.join(s[0] for s in t.source.samples)
    duration = 0
    for t in tracks:
        d = sum(e[0] for e in t.edits) if t.edits is not None else (
            (t.media_duration if t.media_duration is not None else sum(t.durations or [t.source.duration()])) *
            timescale // max(t.timescale, 1))
        duration = max(duration, d)
    duration = min(duration, 0xFFFFFFFF)

    def build(moov_size):
        data_at = len(ftyp) + moov_size + 8
        mvhd = full(b'mvhd', 0, 0, struct.pack('>IIII', 0, 0, timescale, duration),
                    struct.pack('>IH', 0x10000, 0x100), b'\0' * 10,
                    struct.pack('>9I', 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000), b'\0' * 24,
                    struct.pack('>I', len(tracks) + 1))
        traks = b''.join(track_atom(t, timescale, data_at + placed[id(t.source)]) for t in tracks)
        return atom(b'moov', mvhd, traks, mvex, extra_moov)

    moov = build(0)
    moov = build(len(moov))
    return ftyp + moov + atom(b'mdat', payload) + after


def padded(data, size):
    """data followed by a 'free' atom up to size bytes."""
    return data + atom(b'free', b'\0' * (size - len(data) - 8)) if size > len(data) + 8 else data


def files(video, sound):
    """(name, what, bytes) of every costly file."""
    vs = video.timescale
    frame = video.samples[0][1]
    out = []

    def av(**kw):
        return [Track(video, 1, width=128, height=96, **kw), Track(sound, 2)]

    # Long edit lists: each edit shows one picture, in an order that never
    # continues the edit before it.
    for n in (10000, 20000, 160000):
        edits = [(40, video.display[(i * 7) % len(video.display)], 0x10000) for i in range(n)]
        out.append(('edits-%dk' % (n // 1000), '%d edits of one picture each' % n,
                    movie(av(edits=edits))))
    # Edits that show media past the end of the media, then one that plays.
    n = 150000
    edits = [(40, video.display[-1] + frame + 1000 * i, 0x10000) for i in range(n)] + [(1000, 0, 0x10000)]
    out.append(('edits-past-media', '%d edits past the end of the media, then the whole media' % n,
                movie(av(edits=edits))))
    n = 150000
    edits = [(1, -1, 0x10000)] * n + [(1000, 0, 0x10000)]
    out.append(('edits-empty', '%d empty edits, then the whole media' % n, movie(av(edits=edits))))

    # Many tracks, each with a fragment run as long as the file (no fields
    # a sample, so the run itself is a few bytes).
    n = 1000
    size = 1150000
    tracks = [Track(video, i + 1, width=128, height=96) for i in range(n)]
    mvex = atom(b'mvex', *[full(b'trex', 0, 0, struct.pack('>IIIII', i + 1, 1, frame, 1, 0)) for i in range(n)])
    head = movie(tracks, mvex=mvex)
    count = size - 10000  # each run alone fits the file

    def moof(trafs):
        return atom(b'moof', full(b'mfhd', 0, 0, struct.pack('>I', 1)), trafs)
    trafs = b''.join(atom(b'traf', full(b'tfhd', 0, 0x020000, struct.pack('>I', i + 1)),
                          full(b'trun', 0, 0, struct.pack('>I', count))) for i in range(n))
    out.append(('tracks-1000-runs', '%d tracks, each with a fragment run of %d samples' % (n, count),
                padded(head + moof(trafs), size)))

    # Many fragments, one picture each, all at the media data of the movie.
    n = 17000
    first = movie([Track(video, 1, width=128, height=96)], mvex=atom(
        b'mvex', full(b'trex', 0, 0, struct.pack('>IIIII', 1, 1, frame, 0, 0))))
    data_at = first.index(b'mdat') + 4
    offsets, at = [], data_at
    for s in video.samples:
        offsets.append(at)
        at += len(s[0])
    frags = []
    for i in range(n):
        k = i % len(video.samples)
        tfhd = full(b'tfhd', 0, 0x000001, struct.pack('>IQ', 1, offsets[k]))
        tfdt = full(b'tfdt', 1, 0, struct.pack('>Q', (len(video.samples) + i) * frame))
        trun = full(b'trun', 0, 0x000300 | 0x000004, struct.pack('>III', 1, 0x02000000 if k % 12 == 0 else 0x01010000,
                                                               frame), struct.pack('>I', len(video.samples[k][0])))
        frags.append(moof(atom(b'traf', tfhd, tfdt, trun)))
    out.append(('fragments-17k', '%d fragments of one picture' % n, first + b''.join(frags)))

    # Deep nesting: containers in containers where the reader walks them,
    # and empty tracks by the hundred thousand.
    depth = 100000
    nest = b''
    for i in range(depth):
        nest = atom(b'edts' if i % 2 else b'trak', nest)
    out.append(('nesting-deep', '%d atoms nested in the movie atom' % depth, movie(av(), extra_moov=nest)))
    n = 200000
    out.append(('tracks-empty', '%d empty track atoms' % n, movie(av(), extra_moov=atom(b'trak') * n)))

    # Huge counts in every table, each table as large as it can be.
    samples = 1000000
    stsd_video = video.stsd

    def sized(stbl, extra=None):
        return movie([Track(video, 1, stbl=stbl, width=128, height=96, media_duration=samples * frame)] +
                     (extra or [Track(sound, 2)]))
    stts = full(b'stts', 0, 0, struct.pack('>III', 1, samples, frame))
    stsc = full(b'stsc', 0, 0, struct.pack('>IIII', 1, 1, samples, 1))
    stco = full(b'stco', 0, 0, struct.pack('>II', 1, 4096))
    stsz = full(b'stsz', 0, 0, struct.pack('>II', 1, samples))
    out.append(('counts-samples-1m', 'a video track of %d samples of one byte' % samples,
                padded(sized([stts, stsc, stsz, stco]), samples + 50000)))
    big = 0x7FFFFFFF
    out.append(('counts-stts', 'a time-to-sample run of 2^31-1 samples',
                sized([full(b'stts', 0, 0, struct.pack('>III', 1, big, frame)), stsc, stsz, stco])))
    out.append(('counts-stsz', 'a constant sample size for 2^31-1 samples',
                sized([stts, stsc, full(b'stsz', 0, 0, struct.pack('>II', 1, big)), stco])))
    out.append(('counts-stsc', 'a chunk of 2^31-1 samples',
                sized([stts, full(b'stsc', 0, 0, struct.pack('>IIII', 1, 1, big, 1)), stsz, stco])))
    k = 240000
    out.append(('table-stts', '%d time-to-sample entries of alternating durations' % k,
                sized([full(b'stts', 0, 0, struct.pack('>I', k), b''.join(struct.pack('>II', 1, frame + (i & 1))
                                                                            for i in range(k))),
                       stsc, stsz, stco])))
    out.append(('table-ctts', '%d display offsets alternating' % k,
                sized([stts, full(b'ctts', 0, 0, struct.pack('>I', k), b''.join(
                    struct.pack('>Ii', 1, (i % 300) * frame) for i in range(k))), stsc, stsz, stco])))
    k = 480000
    out.append(('table-stss', '%d sync samples, every other one' % k,
                sized([stts, full(b'stss', 0, 0, struct.pack('>I', k), b''.join(struct.pack('>I', 2 * i + 1)
                                                                           for i in range(k))), stsc, stsz, stco])))
    out.append(('table-stsz', '%d sample sizes' % k,
                sized([full(b'stts', 0, 0, struct.pack('>III', 1, k, frame)), stsc,
                       full(b'stsz', 0, 0, struct.pack('>II', 0, k), struct.pack('>I', 7) * k), stco])))
    out.append(('table-stco', '%d chunks of one sample' % k,
                sized([full(b'stts', 0, 0, struct.pack('>III', 1, k, frame)),
                       full(b'stsc', 0, 0, struct.pack('>IIII', 1, 1, 1, 1)), full(b'stsz', 0, 0, struct.pack(
                           '>II', 5, k)), full(b'stco', 0, 0, struct.pack('>I', k), struct.pack('>I', 4096) * k)])))
    k = 160000
    out.append(('table-stsc', '%d sample-to-chunk entries' % k,
                sized([stts, full(b'stsc', 0, 0, struct.pack('>I', k), b''.join(
                    struct.pack('>III', i + 1, 1 + (i & 1), 1) for i in range(k))), stsz,
                       full(b'stco', 0, 0, struct.pack('>I', 1000), struct.pack('>I', 4096) * 1000)])))
    out.append(('table-sdtp', '1.9 MB of sample dependencies',
                sized([stts, stsc, stsz, stco, full(b'sdtp', 0, 0, bytes([0x18]) * 1900000)])))
    entry = stsd_video[8:]
    k = (1900000 - len(entry)) // 16
    many = struct.pack('>I', 1 + k) + entry + struct.pack('>I4s6sH', 16, b'avc1', b'\0' * 6, 1) * k
    out.append(('table-stsd', '%d sample descriptions' % (k + 1),
                movie([Track(video, 1, stsd=b'\0\0\0\0' + many, width=128, height=96), Track(sound, 2)])))
    k = 150000
    out.append(('udta-many', '%d user data items' % k,
                movie(av(), extra_moov=atom(b'udta', atom(b'\xa9cmt', struct.pack('>HH', 0, 0)) * k))))

    # Large declared pictures with pictures of 128 x 96 inside.
    for w, h in ((16384, 16384), (16000, 16000), (8192, 8192)):
        out.append(('picture-%dx%d' % (w, h), 'a 128x96 stream declared %d x %d' % (w, h),
                    movie([Track(video, 1, stsd=visual_entry(stsd_video, w, h), width=w, height=h),
                           Track(sound, 2)])))

    # A duration near the end of 64 bits at time scale 1: 500 pictures of
    # 2^31-1 units each, every one the first picture of the source.
    reps = 500
    key = len(video.samples[0][0])
    stbl = lambda at: [full(b'stts', 0, 0, struct.pack('>III', 1, reps, 0x7FFFFFFF)),
                       full(b'stsc', 0, 0, struct.pack('>IIII', 1, 1, 1, 1)),
                       full(b'stsz', 0, 0, struct.pack('>II', key, reps)),
                       full(b'stco', 0, 0, struct.pack('>I', reps), struct.pack('>I', at) * reps)]
    out.append(('duration-1e12', '%d pictures of 2^31-1 units at time scale 1' % reps,
                movie([Track(video, 1, stbl=stbl, width=128, height=96, timescale=1,
                             media_duration=reps * 0x7FFFFFFF), Track(sound, 2)], timescale=1)))
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    data = open(sys.argv[1], 'rb').read()
    traks = parse(data, 0, len(data)).get(b'trak', [])
    tracks = [SourceTrack(data, t) for t in traks]
    video = next(t for t in tracks if t.handler == b'vide')
    sound = next(t for t in tracks if t.handler == b'soun')
    os.makedirs(sys.argv[2], exist_ok=True)
    with open(os.path.join(sys.argv[2], 'costly.txt'), 'w') as listing:
        for name, what, content in files(video, sound):
            if len(content) > LIMIT:
                sys.exit('%s: %d bytes, more than %d' % (name, len(content), LIMIT))
            path = os.path.join(sys.argv[2], name + '.mov')
            if not os.path.exists(path) or open(path, 'rb').read() != content:
                with open(path, 'wb') as f:
                    f.write(content)
            listing.write('%s %s\n' % (name, what))


if __name__ == '__main__':
    main()
