#!/usr/bin/env python3
"""Makes the benchmark's data natively: a tree of small files, or copies of a
few sample files.

  make_data.py tree FOLDER COUNT        COUNT small *.dat files, 100 to a
                                        folder, ten folders to a parent
  make_data.py names FOLDER COUNT       the same with names that code page 932
                                        lacks, files and folders alike
  make_data.py copies FOLDER COUNT SAMPLE...
                                        COUNT files in ten subfolders, made by
                                        copying the samples in turn
  make_data.py bigzip FOLDER MEGABYTES  one stored archive, big.zip, of one
                                        member of that many MiB of random bytes

A folder already holding what was asked for is kept; the first run makes it.
"""
import os
import shutil
import struct
import sys
import zlib


def already(folder, spec):
    marker = os.path.join(folder, ".made")
    try:
        with open(marker) as f:
            return f.read() == spec
    except OSError:
        return False


def finish(folder, spec):
    with open(os.path.join(folder, ".made"), "w") as f:
        f.write(spec)


# Names of the same length as the tree's, in UTF-16 units, but of
# characters that code page 932 has no form of: an accented letter, a
# heart, hangul, the wave dash (932 holds only the full-width tilde), and
# one beyond U+FFFF, which takes two units.
TREE_NAMES = ("d%03d", "e%d", "file%06d.dat")
WIDE_NAMES = ("\u00e9\u2661%02d", "\ud55c%d", "\u301c\U0001d11e\u00e9%06d.dat")


def tree(folder, count, names=TREE_NAMES):
    top, middle, leaf = names
    for i in range(count):
        sub = os.path.join(folder, top % (i // 1000), middle % (i // 100 % 10))
        if i % 100 == 0:
            os.makedirs(sub, exist_ok=True)
        # Sizes vary a little, as real files do; the content never matters.
        with open(os.path.join(sub, leaf % i), "wb") as f:
            f.write((b"%06d " % i) * (20 + i % 40))


def copies(folder, count, samples):
    ext = os.path.splitext(samples[0])[1]
    for i in range(count):
        sub = os.path.join(folder, "s%d" % (i % 10))
        os.makedirs(sub, exist_ok=True)
        shutil.copyfile(samples[i % len(samples)], os.path.join(sub, "item%05d%s" % (i, ext)))


def bigzip(folder, megabytes):
    """A stored archive written as a stream: random bytes, so that no file
    system can keep a hole for them and the benchmark reads and writes them
    all; the member's CRC is patched in at the end."""
    size = megabytes << 20
    name = b"big.bin"
    # Version, flags, method (stored), time, date (1980-01-01).
    common = struct.pack("<HHHHH", 10, 0, 0, 0, 0x21)
    sizes = lambda crc: struct.pack("<III", crc, size, size)
    with open(os.path.join(folder, "big.zip"), "wb") as f:
        f.write(b"PK\x03\x04" + common + sizes(0) + struct.pack("<HH", len(name), 0) + name)
        crc = 0
        chunk = os.urandom(1 << 20)
        for i in range(megabytes):
            # One random MiB, varied cheaply so that no two are alike.
            block = bytes([i & 0xFF]) + chunk[1:]
            crc = zlib.crc32(block, crc)
            f.write(block)
        central_at = f.tell()
        f.write(b"PK\x01\x02" + struct.pack("<H", 10) + common + sizes(crc) +
                struct.pack("<HHHHHII", len(name), 0, 0, 0, 0, 0, 0) + name)
        central_size = f.tell() - central_at
        f.write(b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 1, 1, central_size, central_at, 0))
        f.seek(14)
        f.write(struct.pack("<I", crc))


def main():
    kind, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    spec = " ".join(sys.argv[1:])
    if already(folder, spec):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if kind == "tree":
        tree(folder, count)
    elif kind == "names":
        tree(folder, count, WIDE_NAMES)
    elif kind == "copies":
        copies(folder, count, sys.argv[4:])
    elif kind == "bigzip":
        bigzip(folder, count)
    else:
        sys.exit("unknown kind " + kind)
    finish(folder, spec)


if __name__ == "__main__":
    main()
