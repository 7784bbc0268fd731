#!/usr/bin/env python3
"""Makes the fuzz targets' starting corpora from the fixtures, small enough
to commit (a few KB each): the atoms of a movie with its media data cut to a
kilobyte, the head of a file of another kind, single sample descriptions,
user-data lists and time-code tracks in the targets' own layouts.
    scripts/fuzz-corpus.py FIXTURES_DIR platform/media/fuzz/corpus"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'fixtures'))
import atom_walk  # noqa: E402

MEDIA_BYTES = 1024


def atoms(data, start, end):
    return atom_walk.atoms(data, start, end, strict=False)


def child(data, start, end, path):
    return atom_walk.child(data, start, end, path, strict=False)


def small_movie(data):
    """Every top-level atom, each media data atom cut to a kilobyte (a
    fragment's to 256 bytes, and three fragments at most)."""
    out = bytearray()
    fragments = 0
    for a, size, kind, header in atoms(data, 0, len(data)):
        if kind == b'moof':
            fragments += 1
            if fragments > 3:
                break
        keep = 256 if fragments else MEDIA_BYTES
        if kind == b'mdat' and size - header > keep:
            out += struct.pack('>I4s', 8 + keep, b'mdat') + data[a + header:a + header + keep]
        else:
            out += data[a:a + size]
    return bytes(out)


def tracks(data):
    moov = child(data, 0, len(data), [b'moov'])
    if not moov:
        return
    for a, size, kind, header in atoms(data, moov[0] + moov[2], moov[0] + moov[1]):
        if kind == b'trak':
            yield a, a + size


def track_parts(data, start, end):
    hdlr = child(data, start + 8, end, [b'mdia', b'hdlr'])
    kind = data[hdlr[0] + 16:hdlr[0] + 20] if hdlr else b''
    mdhd = child(data, start + 8, end, [b'mdia', b'mdhd'])
    stbl = child(data, start + 8, end, [b'mdia', b'minf', b'stbl'])
    return kind, mdhd, stbl


def stsd_entries(data, stbl):
    stsd = child(data, stbl[0] + 8, stbl[0] + stbl[1], [b'stsd'])
    if not stsd:
        return []
    return [data[a:a + size] for a, size, _, _ in atoms(data, stsd[0] + 16, stsd[0] + stsd[1])]


def first_sample(data, stbl):
    stco = child(data, stbl[0] + 8, stbl[0] + stbl[1], [b'stco'])
    stsz = child(data, stbl[0] + 8, stbl[0] + stbl[1], [b'stsz'])
    if not stco or not stsz:
        return b''
    offset = struct.unpack('>I', data[stco[0] + 16:stco[0] + 20])[0]
    size = struct.unpack('>I', data[stsz[0] + 12:stsz[0] + 16])[0] or struct.unpack(
        '>I', data[stsz[0] + 20:stsz[0] + 24])[0]
    return data[offset:offset + min(size, 3000)]


def table(data, stbl, name, entry_bytes):
    a = child(data, stbl[0] + 8, stbl[0] + stbl[1], [name])
    if not a:
        return []
    count = struct.unpack('>I', data[a[0] + 12:a[0] + 16])[0]
    body = data[a[0] + 16:a[0] + a[1]]
    return [body[i * entry_bytes:(i + 1) * entry_bytes] for i in range(min(count, len(body) // entry_bytes))]


def main():
    fixtures, out = sys.argv[1], sys.argv[2]

    def write(target, name, payload):
        os.makedirs(os.path.join(out, target), exist_ok=True)
        with open(os.path.join(out, target, name), 'wb') as f:
            f.write(payload)

    def read(name):
        with open(os.path.join(fixtures, name), 'rb') as f:
            return f.read()

    movies = ['md_tags.mov', 'md_itunes.m4a', 'md_tc_df.mov', 'fragmented.mp4', 'h264_bframes.mp4',
              'aud_aac.m4a', 'delayed.mov', 'droppable.mov']
    for name in movies:
        write('movie', name, small_movie(read(name)))

    # Selector byte: the name ending the import target gives the file.
    for selector, name in [(0, 'aud_s16.aif'), (1, 'aud_s16.caf'), (2, 'aud_aac.aac'), (3, 'dv.dv'),
                           (1, 'md_tags.caf'), (0, 'md_tags.aif')]:
        write('import', name, bytes([selector]) + read(name)[:3000])

    kinds = {b'vide': 0, b'soun': 1, b'tmcd': 2, b'text': 3}
    for name in ['aud_aac.m4a', 'md_tc_df.mov', 'prores.mov', 'aud_sowt.mov', 'mjpeg.mov', 'raw2vuy.mov',
                 'h263.3gp']:
        data = read(name)
        for start, end in tracks(data):
            kind, _, stbl = track_parts(data, start, end)
            if kind not in kinds or not stbl or (kind == b'vide' and name == 'md_tc_df.mov'):
                continue
            for entry in stsd_entries(data, stbl)[:1]:
                frame = first_sample(data, stbl) if kind == b'vide' else b''
                payload = bytes([kinds[kind]]) + struct.pack('>H', len(entry)) + entry + frame
                write('description', '%s.%s' % (name, kind.decode()), payload[:4096])

    for name in ['md_tags.mov', 'md_itunes.m4a', 'md_two_comments.mov', 'md_crlf.mov', 'md_long.mov']:
        data = read(name)
        udta = child(data, 0, len(data), [b'moov', b'udta'])
        if udta:
            write('userdata', name, data[udta[0] + udta[2]:udta[0] + udta[1]][:4096])

    for name in ['md_tc_df.mov', 'md_tc_25.mov', 'md_tc_600.mov', 'md_tc_broken.mov']:
        data = read(name)
        for start, end in tracks(data):
            kind, mdhd, stbl = track_parts(data, start, end)
            if kind != b'tmcd' or not stbl:
                continue
            scale = data[mdhd[0] + 20:mdhd[0] + 24]
            durations = []
            for entry in table(data, stbl, b'stts', 8):
                n, delta = struct.unpack('>II', entry)
                durations += [delta] * n
            durations = durations[:15]
            entry = stsd_entries(data, stbl)[0][:255]
            payload = scale + struct.pack('>ii', 0, 29970) + bytes([len(durations)])
            payload += b''.join(struct.pack('>I', d) for d in durations)
            payload += bytes([len(entry)]) + entry + first_sample(data, stbl)[:4] * len(durations)
            write('timecode', name, payload)


if __name__ == '__main__':
    main()
