#!/usr/bin/env python3
"""Draw the spin-box arrow images of the instrument toolkit.

Usage: draw-arrows.py OUTPUT_DIR

Writes up/down arrows for the light and dark looks, at 8 x 5 and, with
"@2x", 16 x 10 px: a solid triangle, base across the full width, apex at the
middle of the opposite edge, anti-aliased by supersampling, transparent
elsewhere. Only the standard library is needed.
"""
import os
import struct
import sys
import zlib

COLOURS = {"dark": (140, 150, 163), "light": (87, 94, 107)}
SAMPLES = 16  # per axis and pixel


def coverage(width, height, up):
    """Fraction of each pixel inside the triangle."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            inside = 0
            for sy in range(SAMPLES):
                py = y + (sy + 0.5) / SAMPLES
                # distance from the apex edge, 0 at the apex, height at the base
                depth = py if up else height - py
                half = (width / 2.0) * depth / height
                for sx in range(SAMPLES):
                    px = x + (sx + 0.5) / SAMPLES
                    if abs(px - width / 2.0) <= half:
                        inside += 1
            row.append(inside / float(SAMPLES * SAMPLES))
        rows.append(row)
    return rows


def png(width, height, pixels):
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in pixels)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for mode, (r, g, b) in COLOURS.items():
        for direction in ("up", "down"):
            for scale, suffix in ((1, ""), (2, "@2x")):
                width, height = 8 * scale, 5 * scale
                cov = coverage(width, height, direction == "up")
                pixels = [[(r, g, b, int(round(c * 255))) for c in row] for row in cov]
                name = "%s-%s%s.png" % (direction, mode, suffix)
                with open(os.path.join(out, name), "wb") as f:
                    f.write(png(width, height, pixels))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
