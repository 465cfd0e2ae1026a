#!/usr/bin/env python3
"""Makes the benchmark's data natively: a tree of small files, or copies of a
few sample files.

  make_data.py tree FOLDER COUNT        COUNT small *.dat files, 100 to a
                                        folder, ten folders to a parent
  make_data.py copies FOLDER COUNT SAMPLE...
                                        COUNT files in ten subfolders, made by
                                        copying the samples in turn

A folder already holding what was asked for is kept; the first run makes it.
"""
import os
import shutil
import sys


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


def tree(folder, count):
    for i in range(count):
        sub = os.path.join(folder, "d%03d" % (i // 1000), "e%d" % (i // 100 % 10))
        if i % 100 == 0:
            os.makedirs(sub, exist_ok=True)
        # Sizes vary a little, as real files do; the content never matters.
        with open(os.path.join(sub, "file%06d.dat" % i), "wb") as f:
            f.write((b"%06d " % i) * (20 + i % 40))


def copies(folder, count, samples):
    ext = os.path.splitext(samples[0])[1]
    for i in range(count):
        sub = os.path.join(folder, "s%d" % (i % 10))
        os.makedirs(sub, exist_ok=True)
        shutil.copyfile(samples[i % len(samples)], os.path.join(sub, "item%05d%s" % (i, ext)))


def main():
    kind, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    spec = " ".join(sys.argv[1:])
    if already(folder, spec):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if kind == "tree":
        tree(folder, count)
    elif kind == "copies":
        copies(folder, count, sys.argv[4:])
    else:
        sys.exit("unknown kind " + kind)
    finish(folder, spec)


if __name__ == "__main__":
    main()
