#!/usr/bin/env python3
"""Makes Ogg Vorbis and Opus files laid out as some writers lay them, from
a file laid out by the encoder.

    make_ogg.py shared IN.ogg OUT.ogg
        As older encoders wrote them: the last header page (comment and
        setup) also carries the first audio packets. The third page (the
        first audio page) is joined to the second; the joined page takes
        the audio page's granule position and end-of-stream flag.

    make_ogg.py tiny IN OUT
        The header packets after the first on pages of one segment each,
        packets spread over many pages. The comment packet is padded with
        zeros after its fields to a multiple of 255 bytes, so that its
        closing segment of 0 bytes stands on a page of its own, which the
        writer leaves without the flag that it carries on a packet and,
        since it ends no packet to that writer, with granule position -1.
        Other pages where no packet ends have -1 too, those where one ends
        0.

Every later page is renumbered, each with its checksum.
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


def shared(ps):
    setup, audio = ps[1], ps[2]
    joined = {"flags": setup["flags"] | (audio["flags"] & 4), "granule": audio["granule"], "serial": setup["serial"],
              "lacing": setup["lacing"] + audio["lacing"], "body": setup["body"] + audio["body"]}
    assert len(joined["lacing"]) <= 255
    return ps[:1] + [joined] + ps[3:]


def header_packets(ps):
    """The header packets after the first, and the pages after them."""
    packets, packet = [], b""
    for i, p in enumerate(ps[1:], 1):
        at = 0
        for length in p["lacing"]:
            packet += p["body"][at:at + length]
            at += length
            if length < 255:
                packets.append(packet)
                packet = b""
        count = 2 if packets[0].startswith(b"\x03vorbis") else 1
        if len(packets) >= count:
            assert len(packets) == count and at == len(p["body"]), "audio on a header page"
            return packets, ps[i + 1:]
    raise ValueError("no header packets")


def tiny(ps):
    packets, audio = header_packets(ps)
    packets[0] += b"\0" * (-len(packets[0]) % 255)
    laid = []
    for packet in packets:
        lengths = [255] * (len(packet) // 255) + [len(packet) % 255]
        at = 0
        for k, length in enumerate(lengths):
            ends = length < 255
            flags = 1 if k > 0 and length > 0 else 0
            granule = 0 if ends and length > 0 else -1
            laid.append({"flags": flags, "granule": struct.pack("<q", granule), "serial": ps[0]["serial"],
                         "lacing": bytes([length]), "body": packet[at:at + length]})
            at += length
    return ps[:1] + laid + audio


def main(kind, source, out):
    ps = list(pages(open(source, "rb").read()))
    with open(out, "wb") as f:
        for sequence, p in enumerate({"shared": shared, "tiny": tiny}[kind](ps)):
            f.write(page(p, sequence))


if __name__ == "__main__":
    main(*sys.argv[1:])
