#!/usr/bin/env python3
"""Makes an Ogg Vorbis file as older encoders wrote them: the last header
page (comment and setup) also carries the first audio packets.

    make_ogg.py IN.ogg OUT.ogg

The third page (the first audio page) is joined to the second; the joined
page takes the audio page's granule position and end-of-stream flag, and
every later page is renumbered, each with its checksum.
"""
import struct
import sys


def crc(data):
    value = 0
    for byte in data:
        value ^= byte << 24
        for _ in range(8):
            value = (value << 1 ^ 0x04C11DB7 if value & 0x80000000 else value << 1) & 0xFFFFFFFF
    return value


def pages(data):
    at = 0
    while at < len(data):
        count = data[at + 26]
        lacing = data[at + 27:at + 27 + count]
        end = at + 27 + count + sum(lacing)
        yield {"flags": data[at + 5], "granule": data[at + 6:at + 14], "serial": data[at + 14:at + 18],
               "lacing": lacing, "body": data[at + 27 + count:end]}
        at = end


def page(p, sequence):
    header = (b"OggS\0" + bytes([p["flags"]]) + p["granule"] + p["serial"] + struct.pack("<I", sequence)
              + b"\0\0\0\0" + bytes([len(p["lacing"])]) + p["lacing"])
    whole = header + p["body"]
    return whole[:22] + struct.pack("<I", crc(whole)) + whole[26:]


def main(source, out):
    ps = list(pages(open(source, "rb").read()))
    setup, audio = ps[1], ps[2]
    joined = {"flags": setup["flags"] | (audio["flags"] & 4), "granule": audio["granule"], "serial": setup["serial"],
              "lacing": setup["lacing"] + audio["lacing"], "body": setup["body"] + audio["body"]}
    assert len(joined["lacing"]) <= 255
    with open(out, "wb") as f:
        for sequence, p in enumerate(ps[:1] + [joined] + ps[3:]):
            f.write(page(p, sequence))


if __name__ == "__main__":
    main(*sys.argv[1:])
