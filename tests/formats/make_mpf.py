#!/usr/bin/env python3
"""Makes a multi-picture JPEG the way cameras store their extra pictures:
the first image carries an APP2 "MPF" index, and the other images follow
its EOI, each located by its offset from the index's header.

    make_mpf.py [--overstate N] OUT II|MM FIRST.jpg OTHER.jpg...

The index goes after the first image's APPn and COM segments; its entries
are written in the byte order given (II little-endian, MM big-endian).
With --overstate, the first picture's size is N bytes too large, as some
phones write it for their HDR gain-map photos; the other entries are right.
"""
import struct
import sys

UNDEFINED, LONG = 7, 4


def segments_end(jpeg):
    """Where the first segment that is neither APPn nor COM begins."""
    at = 2
    while jpeg[at] == 0xFF and (0xE0 <= jpeg[at + 1] <= 0xEF or jpeg[at + 1] == 0xFE):
        at += 2 + struct.unpack(">H", jpeg[at + 2:at + 4])[0]
    return at


def index_segment(order, sizes, offsets):
    e = "<" if order == "II" else ">"
    count = len(sizes)
    fields = [(0xB000, UNDEFINED, 4, b"0100"), (0xB001, LONG, 1, struct.pack(e + "I", count))]
    entries_at = 8 + 2 + 12 * (len(fields) + 1) + 4
    fields.append((0xB002, UNDEFINED, 16 * count, struct.pack(e + "I", entries_at)))
    ifd = struct.pack(e + "H", len(fields))
    for tag, kind, n, value in fields:
        ifd += struct.pack(e + "HHI", tag, kind, n) + value
    ifd += struct.pack(e + "I", 0)  # no attribute IFD
    entries = b""
    for i, (size, offset) in enumerate(zip(sizes, offsets)):
        attribute = 0x20030000 if i == 0 else 0x00020002  # primary; one view of several
        entries += struct.pack(e + "IIIHH", attribute, size, offset, 0, 0)
    header = (b"II*\0" if order == "II" else b"MM\0*") + struct.pack(e + "I", 8)
    payload = b"MPF\0" + header + ifd + entries
    return b"\xFF\xE2" + struct.pack(">H", len(payload) + 2) + payload


def main(out, order, first, *others, overstate=0):
    first = open(first, "rb").read()
    others = [open(o, "rb").read() for o in others]
    at = segments_end(first)
    header = at + 4 + 4  # marker, length, "MPF\0"
    size = len(first) + len(index_segment(order, [0] * (len(others) + 1), [0] * (len(others) + 1)))
    sizes, offsets, position = [size + overstate], [0], size
    for o in others:
        sizes.append(len(o))
        offsets.append(position - header)
        position += len(o)
    with open(out, "wb") as f:
        f.write(first[:at] + index_segment(order, sizes, offsets) + first[at:] + b"".join(others))


if __name__ == "__main__":
    args = sys.argv[1:]
    overstate = 0
    if args[0] == "--overstate":
        overstate = int(args[1])
        args = args[2:]
    main(*args, overstate=overstate)
