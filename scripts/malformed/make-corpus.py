#!/usr/bin/env python3
"""Damaged movies made from a few small fixtures, for playing through the
filter: truncations, wrong sizes, counts, versions, offsets, runs, time
scales, edit lists, nesting, sample descriptions, fragments and bit flips.

    make-corpus.py FIXTURES OUT

Writes OUT/NAME (NAME: "source.kind.detail.ext") and OUT/corpus.txt, one
line per file: "NAME KIND SUBSET" where SUBSET is 1 for the files the tests
play (a few of every kind) and 0 for the rest. Deterministic: the same
fixtures give the same files (bit flips come from a fixed random state).
"""
import os
import random
import struct
import sys

# Sources (made by scripts/fixtures/malformed.sh), short names for the
# corpus. The .mov files keep their movie atom after the media data; the
# .mp4 has it first; the fragmented one has an empty movie atom and
# fragments; the last two go through the libavformat importer.
SOURCES = [
    ('av', 'malformed_av.mov'),
    ('fast', 'malformed_av.mp4'),
    ('pcm', 'malformed_pcm.mov'),
    ('frag', 'malformed_frag.mp4'),
    ('aif', 'malformed.aif'),
    ('caf', 'malformed.caf'),
]

CONTAINERS = {b'moov', b'trak', b'mdia', b'minf', b'stbl', b'edts', b'dinf', b'mvex', b'moof', b'traf', b'udta',
              b'mfra'}
# Atoms with a version, flags and an entry count before their entries.
COUNTED = {b'stsd', b'stts', b'ctts', b'stss', b'stsc', b'stsz', b'stco', b'co64', b'elst', b'dref', b'sdtp',
           b'stps', b'sbgp', b'trun'}
SAMPLE_TABLE = [b'stsd', b'stts', b'ctts', b'stss', b'stsc', b'stsz', b'stco', b'co64', b'elst']

# Files the tests always play: each once crashed, hung or leaked.
ALWAYS = set()


class Atom:
    def __init__(self, start, size, name, header, parent):
        self.start, self.size, self.name, self.header, self.parent = start, size, name, header, parent
        self.children = []

    @property
    def end(self):
        return self.start + self.size

    @property
    def body(self):
        return self.start + self.header

    def path(self):
        names, a = [], self
        while a:
            names.append(a.name.decode('latin-1'))
            a = a.parent
        return '/'.join(reversed(names))

    def ancestors(self):
        a = self.parent
        while a:
            yield a
            a = a.parent


def parse(data, start, end, parent=None):
    """The atoms between start and end, children of containers and of
    sample descriptions included; stops at the first that does not fit."""
    out = []
    while start + 8 <= end:
        size, name = struct.unpack('>I4s', data[start:start + 8])
        header = 8
        if size == 1 and start + 16 <= end:
            size = struct.unpack('>Q', data[start + 8:start + 16])[0]
            header = 16
        elif size == 0:
            size = end - start
        if size < header or start + size > end:
            break
        a = Atom(start, size, name, header, parent)
        out.append(a)
        if name in CONTAINERS:
            a.children = parse(data, a.body, a.end, a)
        elif name == b'stsd':
            a.children = parse(data, a.body + 8, a.end, a)
        elif parent is not None and parent.name == b'stsd':
            # A sample entry: its extension atoms follow the fixed fields.
            fixed = sample_entry_fields(data, a)
            if fixed:
                a.children = parse(data, a.start + fixed, a.end, a)
        start += size
    return out


def handler_of(data, entry):
    """'vide' or 'soun' for a sample entry, from its track's handler."""
    a = entry
    while a and a.name != b'mdia':
        a = a.parent
    if not a:
        return None
    for c in a.children:
        if c.name == b'hdlr':
            return bytes(data[c.body + 8:c.body + 12])
    return None


def sample_entry_fields(data, entry):
    kind = handler_of(data, entry)
    if kind == b'vide':
        return 86
    if kind == b'soun':
        version = struct.unpack('>H', data[entry.start + 16:entry.start + 18])[0]
        return {0: 36, 1: 52, 2: 72}.get(version)
    return None


def walk(atoms):
    for a in atoms:
        yield a
        yield from walk(a.children)


class Source:
    def __init__(self, short, path):
        self.short = short
        self.ext = os.path.splitext(path)[1]
        self.data = bytes(open(path, 'rb').read())
        self.atoms = parse(self.data, 0, len(self.data))
        self.all = list(walk(self.atoms))

    def named(self, name):
        return [a for a in self.all if a.name == name]

    def tracks(self):
        """(index, trak) of every track."""
        return list(enumerate(self.named(b'trak'), 1))

    def in_track(self, trak, name):
        return [a for a in walk(trak.children) if a.name == name]

    def mdat(self):
        m = self.named(b'mdat')
        return m[0] if m else None


class Corpus:
    def __init__(self, out):
        self.out = out
        self.files = []  # (name, kind)
        self.names = set()

    def add(self, src, kind, detail, data):
        name = '%s.%s.%s%s' % (src.short, kind, detail, src.ext)
        name = name.replace('/', '-')
        if name in self.names:
            raise SystemExit('duplicate ' + name)
        if bytes(data) == src.data:
            return  # the field held that value already
        self.names.add(name)
        self.files.append((name, kind))
        path = os.path.join(self.out, name)
        if not os.path.exists(path) or open(path, 'rb').read() != bytes(data):
            with open(path, 'wb') as f:
                f.write(data)

    def finish(self, per_kind=3):
        """corpus.txt; the tests play up to per_kind files of every kind,
        spread over it, and every file of ALWAYS."""
        by_kind = {}
        for name, kind in self.files:
            by_kind.setdefault(kind, []).append(name)
        subset = set(ALWAYS)
        for kind, names in by_kind.items():
            n = len(names)
            picks = sorted({(i * (n - 1)) // max(per_kind - 1, 1) for i in range(min(per_kind, n))})
            subset.update(names[i] for i in picks)
        missing = ALWAYS - self.names
        if missing:
            raise SystemExit('missing from the corpus: ' + ', '.join(sorted(missing)))
        keep = {name for name, _ in self.files} | {'corpus.txt'}
        for old in os.listdir(self.out):
            if old not in keep:
                os.remove(os.path.join(self.out, old))
        with open(os.path.join(self.out, 'corpus.txt'), 'w') as f:
            for name, kind in self.files:
                f.write('%s %s %d\n' % (name, kind, 1 if name in subset else 0))


def put32(data, at, value):
    struct.pack_into('>I', data, at, value & 0xFFFFFFFF)


def get32(data, at):
    return struct.unpack('>I', data[at:at + 4])[0]


def replace(src, atom_start, atom_end, new, owners):
    """src's bytes with [atom_start, atom_end) replaced by new; the sizes of
    owners (the atoms holding that range) follow, and so do the chunk
    offsets when the range lies before the media data."""
    delta = len(new) - (atom_end - atom_start)
    data = bytearray(src.data[:atom_start]) + bytearray(new) + bytearray(src.data[atom_end:])
    for a in owners:
        if a.header == 16:
            struct.pack_into('>Q', data, a.start + 8, a.size + delta)
        else:
            put32(data, a.start, a.size + delta)
    mdat = src.mdat()
    if delta and mdat and atom_start < mdat.start:
        for table in src.named(b'stco') + src.named(b'co64'):
            if atom_start <= table.start < atom_end:
                continue
            at = table.start + (delta if table.start >= atom_end else 0)
            wide = table.name == b'co64'
            count = get32(data, at + 12)
            for i in range(count):
                p = at + 16 + i * (8 if wide else 4)
                if wide:
                    struct.pack_into('>Q', data, p, struct.unpack('>Q', data[p:p + 8])[0] + delta)
                else:
                    put32(data, p, get32(data, p) + delta)
    return data


def atom_bytes(name, body):
    return struct.pack('>I4s', 8 + len(body), name) + body


# --- the kinds of damage -----------------------------------------------------


def truncations(c, src):
    """The file cut at every atom boundary (each atom's start, the end of its
    header, its end), and inside the media data. Files of other kinds are
    cut in their headers and at fractions of their length."""
    if not src.atoms or src.atoms[0].name not in (b'ftyp', b'wide', b'mdat', b'moov', b'free'):
        n = len(src.data)
        for at in sorted({4, 8, 12, 16, 24, 40, 64, 100, n // 4, n // 2, n - 1}):
            c.add(src, 'truncate-data', 'at%d' % at, src.data[:at])
        return
    cuts = set()
    for a in src.all:
        cuts.update((a.start, a.start + a.header, a.end))
    cuts = sorted(x for x in cuts if 0 < x < len(src.data))
    for at in cuts:
        c.add(src, 'truncate-atom', 'at%d' % at, src.data[:at])
    mdat = src.mdat()
    if mdat:
        for percent in (1, 10, 25, 50, 75, 90, 99):
            at = mdat.body + (mdat.size - mdat.header) * percent // 100
            if at not in cuts:
                c.add(src, 'truncate-data', 'pct%d' % percent, src.data[:at])


def sizes(c, src, names=None):
    """Each atom's size one more and one less than it is, and 0 (to the
    end), 7 (shorter than a header), a 64-bit size far past the end."""
    for a in src.all:
        if a.header != 8 or (names and a.name not in names):
            continue
        label = '%s@%d' % (a.path(), a.start)
        for tag, value in (('plus1', a.size + 1), ('minus1', a.size - 1)):
            data = bytearray(src.data)
            put32(data, a.start, value)
            c.add(src, 'size-off-by-one', '%s.%s' % (label, tag), data)
        for tag, value in (('zero', 0), ('seven', 7)):
            data = bytearray(src.data)
            put32(data, a.start, value)
            c.add(src, 'size-odd', '%s.%s' % (label, tag), data)
    for a in src.atoms:
        data = bytearray(src.data)
        put32(data, a.start, 1)
        data[a.start + 8:a.start + 8] = struct.pack('>Q', 1 << 62)
        c.add(src, 'size-odd', '%s@%d.huge64' % (a.path(), a.start), data)


def counts(c, src):
    """Every counted table's entry count set to 0, one more than it holds,
    2^28 and 2^32 - 1; stsz's sample count and constant size too."""
    for a in src.all:
        if a.name not in COUNTED or a.size < 16:
            continue
        label = '%s@%d' % (a.path(), a.start)
        at = a.body + 4
        if a.name == b'sbgp':
            at += 4 + (4 if src.data[a.body] == 1 else 0)
        elif a.name == b'stsz':
            at += 4
        elif a.name == b'sdtp':
            continue
        if at + 4 > a.end:
            continue
        present = get32(src.data, at)
        for tag, value in (('zero', 0), ('one-more', present + 1), ('big', 1 << 28), ('max', 0xFFFFFFFF)):
            data = bytearray(src.data)
            put32(data, at, value)
            c.add(src, 'count-zero' if value == 0 else 'count-huge', '%s.%s' % (label, tag), data)
        if a.name == b'stsz':
            for tag, value in (('size-max', 0xFFFFFFFF), ('size-1', 1)):
                data = bytearray(src.data)
                put32(data, a.body + 4, value)
                c.add(src, 'count-huge', '%s.%s' % (label, tag), data)


def versions(c, src):
    """Version 1 and 255 in every atom that has one."""
    for a in src.all:
        if a.name not in COUNTED | {b'mvhd', b'tkhd', b'mdhd', b'hdlr', b'mfhd', b'tfhd', b'tfdt', b'trex', b'mehd'}:
            continue
        if a.size <= a.header:
            continue
        for value in (1, 255):
            if src.data[a.body] == value:
                continue
            data = bytearray(src.data)
            data[a.body] = value
            c.add(src, 'version', '%s@%d.v%d' % (a.path(), a.start, value), data)


def missing(c, src):
    """Each track's essential atoms taken out, or renamed 'free'."""
    for n, trak in src.tracks():
        for name in (b'stsd', b'stts', b'stsz', b'stco', b'stsc', b'mdhd', b'hdlr', b'stbl', b'minf', b'mdia'):
            for a in src.in_track(trak, name)[:1]:
                label = 'trak%d.%s' % (n, name.decode())
                data = replace(src, a.start, a.end, b'', list(a.ancestors()))
                c.add(src, 'missing', label + '.cut', data)
                data = bytearray(src.data)
                data[a.start + 4:a.start + 8] = b'free'
                c.add(src, 'missing', label + '.free', data)
    for a in src.named(b'mvhd')[:1]:
        c.add(src, 'missing', 'mvhd.cut', replace(src, a.start, a.end, b'', list(a.ancestors())))


def chunk_offsets(c, src):
    """Chunk offsets at, past and far past the end of the file, and 64-bit
    offsets near 2^63 and 2^64."""
    size = len(src.data)
    for n, trak in src.tracks():
        for a in src.in_track(trak, b'stco')[:1]:
            count = get32(src.data, a.body + 4)
            if count == 0:
                continue
            first, last = a.body + 8, a.body + 8 + 4 * (count - 1)
            for tag, at, value in (('first-at-end', first, size), ('last-past-end', last, size + 1000),
                                   ('first-max', first, 0xFFFFFFFF), ('last-zero', last, 0),
                                   ('last-one-byte-left', last, size - 1)):
                data = bytearray(src.data)
                put32(data, at, value)
                c.add(src, 'chunk-offset', 'trak%d.%s' % (n, tag), data)
            data = bytearray(src.data)
            for i in range(count):
                put32(data, a.body + 8 + 4 * i, size + 16 * i)
            c.add(src, 'chunk-offset', 'trak%d.all-past-end' % n, data)
            # The same table as co64, with huge offsets.
            for tag, value in (('co64-2^63', (1 << 63) - 1), ('co64-2^64', (1 << 64) - 1),
                               ('co64-2^62', 1 << 62)):
                entries = [struct.unpack('>I', src.data[a.body + 8 + 4 * i:a.body + 12 + 4 * i])[0]
                           for i in range(count)]
                entries[count // 2] = value
                body = src.data[a.body:a.body + 8] + b''.join(struct.pack('>Q', e) for e in entries)
                data = replace(src, a.start, a.end, atom_bytes(b'co64', body), list(a.ancestors()))
                c.add(src, 'chunk-offset', 'trak%d.%s' % (n, tag), data)


def sample_to_chunk(c, src):
    """Runs whose first chunk lies past the chunk table, is 0 or goes
    backwards; zero and huge samples per chunk; description index 0 and 99;
    and the table of the known over-read: runs from chunks 1 and 1001."""
    for n, trak in src.tracks():
        stsc = src.in_track(trak, b'stsc')[:1]
        stco = src.in_track(trak, b'stco')[:1]
        if not stsc or not stco:
            continue
        a = stsc[0]
        runs = get32(src.data, a.body + 4)
        chunks = get32(src.data, stco[0].body + 4)
        last = a.body + 8 + 12 * (runs - 1)
        for tag, at, value in (('last-first-past-table', last, chunks + 1), ('last-first-1001', last, 1001),
                               ('last-first-max', last, 0xFFFFFFFF), ('first-first-0', a.body + 8, 0),
                               ('first-per-chunk-0', a.body + 12, 0),
                               ('first-per-chunk-max', a.body + 12, 0xFFFFFFFF),
                               ('first-per-chunk-2^20', a.body + 12, 1 << 20),
                               ('first-description-0', a.body + 16, 0), ('first-description-99', a.body + 16, 99)):
            data = bytearray(src.data)
            put32(data, at, value)
            c.add(src, 'stsc-runs', 'trak%d.%s' % (n, tag), data)
        if runs >= 2:
            data = bytearray(src.data)
            put32(data, a.body + 8 + 12, 1)  # the second run starts where the first did
            c.add(src, 'stsc-runs', 'trak%d.second-first-backwards' % n, data)
        # Two runs, from chunk 1 and from chunk 1001, over the first ten
        # chunk offsets, with as many samples as the track declares.
        body = struct.pack('>II', 0, 2) + struct.pack('>III', 1, 1, 1) + struct.pack('>III', 1001, 1, 1)
        data = replace(src, a.start, a.end, atom_bytes(b'stsc', body), list(a.ancestors()))
        c.add(src, 'stsc-runs', 'trak%d.runs-1-and-1001' % n, data)


def time_scales(c, src):
    """Time scales of 0 in the movie and each track; durations 0 and huge."""
    for a in src.named(b'mvhd') + src.named(b'mdhd'):
        wide = src.data[a.body] == 1
        scale = a.body + (20 if wide else 12)
        duration = scale + 4
        owner = 'movie' if a.name == b'mvhd' else 'trak%d' % ([t for _, t in src.tracks()].index(
            next(x for x in a.ancestors() if x.name == b'trak')) + 1)
        data = bytearray(src.data)
        put32(data, scale, 0)
        c.add(src, 'timescale-zero', owner, data)
        for tag, value in (('duration-zero', 0), ('duration-max', 0xFFFFFFFF)):
            if wide:
                continue
            data = bytearray(src.data)
            put32(data, duration, value)
            c.add(src, 'duration', '%s.%s' % (owner, tag), data)


def edit_lists(c, src):
    """Edits with zero and negative durations, media times before the
    start and far past the end, rates 0 and -1, a thousand empty edits."""
    for n, trak in src.tracks():
        for a in src.in_track(trak, b'elst')[:1]:
            if src.data[a.body] != 0 or get32(src.data, a.body + 4) == 0:
                continue
            entry = a.body + 8
            for tag, at, value in (('duration-zero', entry, 0), ('duration-negative', entry, 0x80000000),
                                   ('duration-minus-one', entry, 0xFFFFFFFF), ('media-time-minus-2', entry + 4,
                                                                               0xFFFFFFFE),
                                   ('media-time-negative', entry + 4, 0x80000000),
                                   ('media-time-past-end', entry + 4, 0x7FFFFFFF), ('rate-zero', entry + 8, 0),
                                   ('rate-minus-one', entry + 8, 0xFFFF0000)):
                data = bytearray(src.data)
                put32(data, at, value)
                c.add(src, 'edit-list', 'trak%d.%s' % (n, tag), data)
            many = struct.pack('>II', 0, 1000) + struct.pack('>iiI', 0, -1, 0x10000) * 999 + \
                src.data[entry:entry + 12]
            data = replace(src, a.start, a.end, atom_bytes(b'elst', many), list(a.ancestors()))
            c.add(src, 'edit-list', 'trak%d.thousand-zero-edits' % n, data)
            negative = struct.pack('>II', 0, 2) + struct.pack('>iiI', -5000, -1, 0x10000) + \
                src.data[entry:entry + 12]
            data = replace(src, a.start, a.end, atom_bytes(b'elst', negative), list(a.ancestors()))
            c.add(src, 'edit-list', 'trak%d.empty-edit-negative' % n, data)


def nesting(c, src):
    """A movie atom inside the movie atom, a track inside a track, a
    sample table inside a sample table, a second movie atom, and a
    thousand nested movie atoms."""
    moov = src.named(b'moov')
    if not moov:
        return
    m = moov[0]
    whole = src.data[m.start:m.end]
    inner = bytearray(whole)
    data = replace(src, m.end, m.end, inner, [m])
    c.add(src, 'nesting', 'moov-in-moov', data)
    data = replace(src, m.body, m.body, inner, [m])
    c.add(src, 'nesting', 'moov-in-moov-first', data)
    data = bytearray(src.data) + bytearray(whole)
    c.add(src, 'nesting', 'second-moov', data)
    for name in (b'trak', b'stbl'):
        for a in src.named(name)[:1]:
            copy = src.data[a.start:a.end]
            data = replace(src, a.end, a.end, copy, [a] + list(a.ancestors()))
            c.add(src, 'nesting', '%s-in-%s' % (name.decode(), name.decode()), data)
    deep = b''
    for _ in range(1000):
        deep = atom_bytes(b'moov', deep)
    data = replace(src, m.end, m.end, deep, [m])
    c.add(src, 'nesting', 'thousand-deep', data)


def descriptions(c, src):
    """Sample descriptions with zero and huge sizes, zero channels, rates,
    bits; entries shorter than their fields; extension atoms cut."""
    for n, trak in src.tracks():
        for stsd in src.in_track(trak, b'stsd')[:1]:
            if not stsd.children:
                continue
            e = stsd.children[0]
            kind = handler_of(src.data, e)
            label = 'trak%d' % n
            fields = []
            if kind == b'vide':
                fields = [('width-zero', e.start + 32, '>H', 0), ('height-zero', e.start + 34, '>H', 0),
                          ('width-max', e.start + 32, '>H', 0xFFFF), ('height-max', e.start + 34, '>H', 0xFFFF),
                          ('depth-zero', e.start + 82, '>H', 0), ('depth-odd', e.start + 82, '>H', 13)]
            elif kind == b'soun':
                fields = [('channels-zero', e.start + 24, '>H', 0), ('channels-max', e.start + 24, '>H', 0xFFFF),
                          ('bits-zero', e.start + 26, '>H', 0), ('bits-odd', e.start + 26, '>H', 13),
                          ('rate-zero', e.start + 32, '>I', 0), ('rate-max', e.start + 32, '>I', 0xFFFFFFFF),
                          ('version-9', e.start + 16, '>H', 9)]
            for tag, at, fmt, value in fields:
                data = bytearray(src.data)
                struct.pack_into(fmt, data, at, value)
                c.add(src, 'description', '%s.%s' % (label, tag), data)
            for tag, value in (('entry-size-16', 16), ('entry-size-past', e.size + 64)):
                data = bytearray(src.data)
                put32(data, e.start, value)
                c.add(src, 'description', '%s.%s' % (label, tag), data)
            data = bytearray(src.data)
            data[e.start + 4:e.start + 8] = b'zzzz'
            c.add(src, 'description', '%s.unknown-codec' % label, data)
            for x in e.children:
                cut = x.body + (x.size - x.header) // 2
                data = replace(src, cut, x.end, b'', [x] + list(x.ancestors()))
                c.add(src, 'description', '%s.%s-half' % (label, x.name.decode('latin-1')), data)
                data = bytearray(src.data)
                data[x.body:x.end] = bytes(x.size - x.header)
                c.add(src, 'description', '%s.%s-zeroed' % (label, x.name.decode('latin-1')), data)


def sample_tables(c, src):
    """Sample sizes of 0 and 2^32 - 1; sync samples 0 and past the count;
    composition offsets far out; decode deltas of 0 and 2^32 - 1."""
    for n, trak in src.tracks():
        label = 'trak%d' % n
        for a in src.in_track(trak, b'stsz')[:1]:
            if get32(src.data, a.body + 4) != 0 or get32(src.data, a.body + 8) < 2:
                continue
            for tag, value in (('size-zero', 0), ('size-max', 0xFFFFFFFF), ('size-2^31', 0x80000000)):
                data = bytearray(src.data)
                put32(data, a.body + 12 + 4, value)
                c.add(src, 'sample-table', '%s.stsz-%s' % (label, tag), data)
            data = bytearray(src.data)
            for i in range(get32(src.data, a.body + 8)):
                put32(data, a.body + 12 + 4 * i, 0)
            c.add(src, 'sample-table', '%s.stsz-all-zero' % label, data)
        for a in src.in_track(trak, b'stss')[:1]:
            for tag, value in (('zero', 0), ('past-count', 100000)):
                data = bytearray(src.data)
                put32(data, a.body + 8, value)
                c.add(src, 'sample-table', '%s.stss-%s' % (label, tag), data)
        for a in src.in_track(trak, b'ctts')[:1]:
            for tag, value in (('max', 0x7FFFFFFF), ('negative', 0x80000000)):
                data = bytearray(src.data)
                put32(data, a.body + 12, value)
                c.add(src, 'sample-table', '%s.ctts-%s' % (label, tag), data)
        for a in src.in_track(trak, b'stts')[:1]:
            for tag, value in (('delta-zero', 0), ('delta-max', 0xFFFFFFFF)):
                data = bytearray(src.data)
                put32(data, a.body + 12, value)
                c.add(src, 'sample-table', '%s.stts-%s' % (label, tag), data)


def fragments(c, src):
    """Fragment runs with zero and huge counts and offsets, base offsets
    past the end, decode times near 2^64, a fragment cut."""
    for i, a in enumerate(src.named(b'trun')[:2]):
        flags = get32(src.data, a.body) & 0xFFFFFF
        if flags & 1:
            for tag, value in (('offset-max', 0x7FFFFFFF), ('offset-negative', 0x80000000)):
                data = bytearray(src.data)
                put32(data, a.body + 8, value)
                c.add(src, 'fragment', 'trun%d.%s' % (i, tag), data)
    for i, a in enumerate(src.named(b'tfhd')[:2]):
        flags = get32(src.data, a.body) & 0xFFFFFF
        data = bytearray(src.data)
        put32(data, a.body + 4, 99)
        c.add(src, 'fragment', 'tfhd%d.unknown-track' % i, data)
        if flags & 1:
            data = bytearray(src.data)
            struct.pack_into('>Q', data, a.body + 8, (1 << 64) - 1)
            c.add(src, 'fragment', 'tfhd%d.base-max' % i, data)
    for i, a in enumerate(src.named(b'tfdt')[:2]):
        data = bytearray(src.data)
        if src.data[a.body] == 1:
            struct.pack_into('>Q', data, a.body + 4, (1 << 64) - 1)
        else:
            put32(data, a.body + 4, 0xFFFFFFFF)
        c.add(src, 'fragment', 'tfdt%d.max' % i, data)
    for a in src.named(b'trex')[:1]:
        for tag, at, value in (('default-size-max', a.body + 16, 0xFFFFFFFF),
                               ('default-duration-zero', a.body + 12, 0)):
            data = bytearray(src.data)
            put32(data, at, value)
            c.add(src, 'fragment', 'trex.%s' % tag, data)


def bit_flips(c, src, state):
    """Bits flipped at random (fixed random state): in the movie atom and
    anywhere in the file, 1, 4, 16 and 64 of them."""
    moov = src.named(b'moov')
    regions = [('file', 0, len(src.data))]
    if moov:
        regions.append(('moov', moov[0].start, moov[0].end))
    for region, start, end in regions:
        for flips in (1, 4, 16, 64):
            for k in range(3):
                data = bytearray(src.data)
                for _ in range(flips):
                    bit = state.randrange((end - start) * 8)
                    data[start + bit // 8] ^= 1 << (bit % 8)
                if data != bytearray(src.data):
                    c.add(src, 'bit-flip', '%s-%d-%d' % (region, flips, k), data)


def main():
    fixtures, out = sys.argv[1:3]
    os.makedirs(out, exist_ok=True)
    c = Corpus(out)
    state = random.Random(20240613)
    sources = {short: Source(short, os.path.join(fixtures, name)) for short, name in SOURCES}
    for short in ('av', 'fast', 'pcm', 'frag'):
        truncations(c, sources[short])
    for short in ('aif', 'caf'):
        truncations(c, sources[short])
    sizes(c, sources['av'])
    sizes(c, sources['fast'], {b'moov', b'trak', b'mdia', b'minf', b'stbl', b'stsd', b'stco', b'mdat', b'avc1',
                               b'mp4a', b'esds', b'avcC'})
    sizes(c, sources['frag'], {b'moof', b'traf', b'trun', b'tfhd', b'mdat'})
    for short in ('av', 'pcm', 'frag'):
        counts(c, sources[short])
    for short in ('av', 'frag'):
        versions(c, sources[short])
    for short in ('av', 'pcm'):
        missing(c, sources[short])
    for short in ('av', 'fast', 'pcm'):
        chunk_offsets(c, sources[short])
        sample_to_chunk(c, sources[short])
    for short in ('av', 'pcm'):
        time_scales(c, sources[short])
        edit_lists(c, sources[short])
        nesting(c, sources[short])
    for short in ('av', 'pcm', 'fast'):
        descriptions(c, sources[short])
    sample_tables(c, sources['av'])
    fragments(c, sources['frag'])
    for short in ('av', 'fast', 'pcm', 'frag', 'aif', 'caf'):
        bit_flips(c, sources[short], state)
    c.finish()
    print('%d damaged files in %s' % (len(c.files), out))


if __name__ == '__main__':
    main()
