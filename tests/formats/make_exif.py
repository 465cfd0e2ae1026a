#!/usr/bin/env python3
"""Gives a JPEG the Exif segment a phone writes: IFD0 with its values right
after it (so that it cannot grow in place) and a tag after XPComment's, an
Exif IFD with a maker note
that is an IFD of its own with offsets from the TIFF header, a user
comment, a GPS IFD, and IFD1 with a thumbnail.

    make_exif.py OUT II|MM IN.jpg THUMB.jpg

The segment replaces the input's APP0 header, as phones write no JFIF.
"""
import struct
import sys

BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED = 1, 2, 3, 4, 5, 7


def ifd(e, base, entries, next_ifd=0):
    """An IFD at `base` with its values after it; entries are (tag, type,
    count, value bytes). Returns its bytes."""
    head = struct.pack(e + "H", len(entries))
    values = b""
    after = base + 2 + 12 * len(entries) + 4
    for tag, kind, count, value in sorted(entries):
        if len(value) <= 4:
            field = value.ljust(4, b"\0")
        else:
            field = struct.pack(e + "I", after + len(values))
            values += value + b"\0" * (len(value) % 2)
        head += struct.pack(e + "HHI", tag, kind, count) + field
    return head + struct.pack(e + "I", next_ifd) + values


def ascii_entry(tag, text):
    value = text.encode() + b"\0"
    return (tag, ASCII, len(value), value)


def main(out, order, source, thumb_path):
    e = "<" if order == "II" else ">"
    jpeg = open(source, "rb").read()
    thumb = open(thumb_path, "rb").read()
    rational = lambda n, d: struct.pack(e + "II", n, d)
    short = lambda v: struct.pack(e + "H", v)
    long_ = lambda v: struct.pack(e + "I", v)

    # Laid out in order: IFD0, Exif IFD, maker note, GPS IFD, IFD1, thumbnail.
    # Each IFD's size does not depend on the offsets in it, so a first pass
    # with zeros finds where everything goes.
    def build(exif_at, note_at, gps_at, ifd1_at, thumb_at):
        ifd0 = ifd(e, 8, [ascii_entry(0x010F, "Kestrane"), ascii_entry(0x0110, "Phone 1"),
                          (0x0112, SHORT, 1, short(1)), (0x011A, RATIONAL, 1, rational(72, 1)),
                          (0x011B, RATIONAL, 1, rational(72, 1)), (0x0128, SHORT, 1, short(2)),
                          ascii_entry(0x0132, "2026:01:02 03:04:05"),
                          (0x8769, LONG, 1, long_(exif_at)), (0x8825, LONG, 1, long_(gps_at)),
                          (0xC4A5, UNDEFINED, 16, b"PrintIM\x000300\0\0\0\0")], ifd1_at)
        note = ifd(e, note_at, [ascii_entry(0x0001, "maker data at an offset from the TIFF header"),
                                (0x0002, LONG, 2, long_(thumb_at) + long_(len(thumb)))])
        user = b"ASCII\0\0\0an old user comment"
        exif = ifd(e, exif_at, [(0x9000, UNDEFINED, 4, b"0231"), ascii_entry(0x9003, "2026:01:02 03:04:05"),
                                (0x927C, UNDEFINED, len(note), note), (0x9286, UNDEFINED, len(user), user)])
        gps = ifd(e, gps_at, [(0x0000, BYTE, 4, b"\2\3\0\0"), ascii_entry(0x0001, "N"),
                              (0x0002, RATIONAL, 3, rational(35, 1) + rational(40, 1) + rational(1234, 100))])
        ifd1 = ifd(e, ifd1_at, [(0x0103, SHORT, 1, short(6)), (0x0201, LONG, 1, long_(thumb_at)),
                                (0x0202, LONG, 1, long_(len(thumb)))])
        return ifd0, exif, gps, ifd1

    ifd0, exif, gps, ifd1 = build(0, 0, 0, 0, 0)
    exif_at = 8 + len(ifd0)
    # The maker note is the Exif IFD's value that follows its four entries
    # and the date; find it by building the Exif IFD alone.
    note_at = exif_at + 2 + 12 * 4 + 4 + 20
    gps_at = exif_at + len(exif)
    ifd1_at = gps_at + len(gps)
    thumb_at = ifd1_at + len(ifd1)
    ifd0, exif, gps, ifd1 = build(exif_at, note_at, gps_at, ifd1_at, thumb_at)
    tiff = (b"II*\0" if order == "II" else b"MM\0*") + long_(8) + ifd0 + exif + gps + ifd1 + thumb
    payload = b"Exif\0\0" + tiff
    segment = b"\xFF\xE1" + struct.pack(">H", len(payload) + 2) + payload
    rest = 2
    if jpeg[2:4] == b"\xFF\xE0":
        rest = 4 + struct.unpack(">H", jpeg[4:6])[0]
    open(out, "wb").write(jpeg[:2] + segment + jpeg[rest:])


if __name__ == "__main__":
    main(*sys.argv[1:])
