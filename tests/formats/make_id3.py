#!/usr/bin/env python3
"""Makes MP3 files with the tags that the common taggers no longer write,
in front of an MP3 file's audio, byte by byte as the ID3v2 documents lay
them out.

    make_id3.py v22 OUT AUDIO.mp3   a v2.2 tag, as older rippers wrote it,
                                    and an ID3v1 tag at the end
    make_id3.py crc OUT AUDIO.mp3   a v2.4 tag whose extended header holds
                                    a CRC-32 and restricts text encodings
                                    to Latin-1 and UTF-8 and its size to
                                    40 KB
    make_id3.py unsync23 OUT AUDIO.mp3
                                    a v2.3 tag unsynchronised as a whole,
                                    with an encrypted frame
    make_id3.py unsync24 OUT AUDIO.mp3
                                    a v2.4 tag whose comment and two other
                                    frames, one of them compressed, are
                                    unsynchronised each
    make_id3.py plain24 OUT AUDIO.mp3
                                    a v2.4 tag with frame sizes as plain
                                    integers and ids of lower-case letters
                                    and spaces, as one player wrote them
"""
import struct
import sys
import zlib


def syncsafe(value, count=4):
    return bytes((value >> (7 * i)) & 0x7F for i in reversed(range(count)))


def v22_frame(fid, data):
    return fid + struct.pack(">I", len(data))[1:] + data


def v24_frame(fid, data, flags=0, size=syncsafe):
    return fid + size(len(data)) + struct.pack(">H", flags) + data


def v23_frame(fid, data, flags=0):
    return fid + struct.pack(">IH", len(data), flags) + data


def unsynchronised(data):
    """An $FF before $00 or %111xxxxx gets a $00 after it."""
    out = bytearray()
    for i, byte in enumerate(data):
        out.append(byte)
        if byte == 0xFF and (i + 1 == len(data) or data[i + 1] == 0 or data[i + 1] >= 0xE0):
            out.append(0)
    return bytes(out)


# Bytes that unsynchronisation must change: false syncs, and $FF $00.
FALSE_SYNCS = b"\xff\xfb\x90\x00\xff\x00\xff\xe0\xff\x41"
# A comment whose UTF-16 has $FF $00 in it: "y" with diaeresis is U+00FF.
COMMENT_FF = b"\x01eng\xff\xfe\0\0\xff\xfe" + "old comment \u00ff".encode("utf-16-le")


def v22_tag():
    frames = (v22_frame(b"TT2", b"\0Title\0")
              + v22_frame(b"TP1", b"\x01\xff\xfe" + "歌手".encode("utf-16-le") + b"\0\0")
              + v22_frame(b"COM", b"\0eng\0old comment")
              + v22_frame(b"COM", b"\0eng" + b"iTunNORM\0" + b" 00000001 00000002")
              + v22_frame(b"COM", b"\x01deu\xff\xfe\0\0\xff\xfe" + "second old one".encode("utf-16-le")))
    padding = b"\0" * 64
    return b"ID3\x02\0\0" + syncsafe(len(frames) + len(padding)) + frames + padding


def v1_tag():
    return (b"TAG" + b"Title".ljust(30, b"\0") + b"Artist".ljust(30, b"\0") + b"Album".ljust(30, b"\0")
            + b"2001" + b"old v1 comment".ljust(28, b"\0") + b"\0\x05" + b"\x0c")


def crc_tag():
    frames = v24_frame(b"TIT2", b"\x03Title\0") + v24_frame(b"COMM", b"\x03eng\0old comment")
    padding = b"\0" * 32
    crc = syncsafe(zlib.crc32(frames + padding), 5)
    restrictions = b"\xa0"  # at most 40 KB, strings only in Latin-1 or UTF-8
    flags = b"\x01\x30"     # one flag byte: CRC data and restrictions present
    data = b"\x05" + crc + b"\x01" + restrictions
    extended = syncsafe(6 + len(data)) + flags + data
    body = extended + frames + padding
    return b"ID3\x04\0\x40" + syncsafe(len(body)) + body


def unsync23_tag():
    frames = (v23_frame(b"TIT2", b"\0Title")
              + v23_frame(b"COMM", b"\0eng\0old comment")
              + v23_frame(b"PRIV", b"kestrane\0" + FALSE_SYNCS)
              + v23_frame(b"PRIV", b"\x80" + FALSE_SYNCS, 0x0040))  # encrypted with method 0x80
    body = unsynchronised(frames + b"\0" * 32)
    return b"ID3\x03\0\x80" + syncsafe(len(body)) + body


def unsync24_tag():
    text = b"\0compressed text " * 8
    compressed = syncsafe(len(text)) + zlib.compress(text)  # behind its data length
    frames = (v24_frame(b"TIT2", b"\x03Title")
              + v24_frame(b"COMM", unsynchronised(COMMENT_FF), 0x0002)
              + v24_frame(b"PRIV", unsynchronised(b"kestrane\0" + FALSE_SYNCS), 0x0002)
              + v24_frame(b"PRIV", b"plain\0" + FALSE_SYNCS)  # not unsynchronised: kept as it is
              + v24_frame(b"TXXX", unsynchronised(compressed), 0x000B))
    body = frames + b"\0" * 32
    return b"ID3\x04\0\0" + syncsafe(len(body)) + body


def plain24_tag():
    plain = lambda n: struct.pack(">I", n)
    frames = (v24_frame(b"TIT2", b"\x03Title", size=plain)
              + v24_frame(b"COMM", b"\x03eng\0old comment", size=plain)
              + v24_frame(b"PRIV", b"kestrane\0" + bytes(range(200)), size=plain)
              + v24_frame(b"TYE ", b"\x032009", size=plain)
              + v24_frame(b"tDAT", b"\x03lower case", size=plain))
    body = frames + b"\0" * 64
    return b"ID3\x04\0\0" + syncsafe(len(body)) + body


TAGS = {"crc": crc_tag, "unsync23": unsync23_tag, "unsync24": unsync24_tag, "plain24": plain24_tag}


def main(kind, out, audio):
    audio = open(audio, "rb").read()
    data = v22_tag() + audio + v1_tag() if kind == "v22" else TAGS[kind]() + audio
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
