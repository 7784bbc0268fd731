#!/usr/bin/env python3
"""Prints a Windows module's file version, "major.minor.build", from the
VS_FIXEDFILEINFO of its version resource (in the .rsrc section)."""
import struct
import sys

FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


def resource_section(data):
    if data[:2] != b"MZ":
        raise ValueError("not a Windows module")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + optional_size
    for i in range(sections):
        name, _, _, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            return data[raw_offset:raw_offset + raw_size]
    raise ValueError("no resources")


def file_version(path):
    with open(path, "rb") as f:
        rsrc = resource_section(f.read())
    at = rsrc.find(struct.pack("<I", FIXED_FILE_INFO_SIGNATURE))
    if at < 0:
        raise ValueError("no version resource")
    ms, ls = struct.unpack_from("<II", rsrc, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pe_version.py MODULE")
    try:
        print(file_version(sys.argv[1]))
    except (OSError, ValueError, struct.error) as error:
        sys.exit(f"pe_version.py: {sys.argv[1]}: {error}")
