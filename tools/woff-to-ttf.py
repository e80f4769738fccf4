#!/usr/bin/env python3
"""Unpack WOFF 1.0 font files into plain TrueType (sfnt) files.

Usage: woff-to-ttf.py INPUT.woff OUTPUT.ttf

WOFF 1.0 is an sfnt whose tables are stored one by one, each optionally
zlib-compressed; undoing that needs nothing beyond the standard library.
"""
import struct
import sys
import zlib


def woff_to_sfnt(data: bytes) -> bytes:
    (signature, flavor, length, num_tables, _reserved, _total_sfnt_size,
     _major, _minor, _meta_offset, _meta_length, _meta_orig_length,
     _priv_offset, _priv_length) = struct.unpack(">4sIIHHIHHIIIII", data[:44])
    if signature != b"wOFF":
        raise ValueError("not a WOFF 1.0 file")
    if length != len(data):
        raise ValueError("length field does not match the file size")

    tables = []
    for i in range(num_tables):
        entry = data[44 + 20 * i:44 + 20 * (i + 1)]
        tag, offset, comp_length, orig_length, checksum = struct.unpack(">4sIIII", entry)
        raw = data[offset:offset + comp_length]
        if comp_length < orig_length:
            raw = zlib.decompress(raw)
        if len(raw) != orig_length:
            raise ValueError("table %r has the wrong size" % tag)
        tables.append((tag, checksum, raw))
    tables.sort(key=lambda t: t[0])

    entry_selector = 0
    while (1 << (entry_selector + 1)) <= num_tables:
        entry_selector += 1
    search_range = (1 << entry_selector) * 16
    range_shift = num_tables * 16 - search_range

    header = struct.pack(">IHHHH", flavor, num_tables, search_range, entry_selector, range_shift)
    directory = b""
    body = b""
    offset = 12 + 16 * num_tables
    for tag, checksum, raw in tables:
        directory += struct.pack(">4sIII", tag, checksum, offset + len(body), len(raw))
        body += raw + b"\0" * ((4 - len(raw) % 4) % 4)
    return header + directory + body


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        sfnt = woff_to_sfnt(f.read())
    with open(argv[2], "wb") as f:
        f.write(sfnt)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
