#!/usr/bin/env python3
"""Makes MP3 files with the tags that the common taggers no longer write,
in front of an MP3 file's audio, byte by byte as the ID3v2 documents lay
them out.

    make_id3.py v22 OUT AUDIO.mp3   a v2.2 tag, as older rippers wrote it,
                                    and an ID3v1 tag at the end
    make_id3.py crc OUT AUDIO.mp3   a v2.4 tag whose extended header holds
                                    a CRC-32 and restricts text encodings
                                    to Latin-1 and UTF-8
"""
import struct
import sys
import zlib


def syncsafe(value, count=4):
    return bytes((value >> (7 * i)) & 0x7F for i in reversed(range(count)))


def v22_frame(fid, data):
    return fid + struct.pack(">I", len(data))[1:] + data


def v24_frame(fid, data):
    return fid + syncsafe(len(data)) + b"\0\0" + data


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
    restrictions = b"\x20"  # strings only in Latin-1 or UTF-8
    flags = b"\x01\x30"     # one flag byte: CRC data and restrictions present
    data = b"\x05" + crc + b"\x01" + restrictions
    extended = syncsafe(6 + len(data)) + flags + data
    body = extended + frames + padding
    return b"ID3\x04\0\x40" + syncsafe(len(body)) + body


def main(kind, out, audio):
    audio = open(audio, "rb").read()
    data = v22_tag() + audio + v1_tag() if kind == "v22" else crc_tag() + audio
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
