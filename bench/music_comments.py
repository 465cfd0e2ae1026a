#!/usr/bin/python3
"""Counts the music files below a folder whose comment, as mutagen reads it,
is not exactly the one given: one process for all of them, since a reader
started for each of a thousand files would take longer than the run.

  music_comments.py FOLDER EXT COMMENT
"""
import os
import sys

from mutagen import File
from mutagen.id3 import ID3


def comment(path, ext):
    if ext == "mp3":
        frames = [f for f in ID3(path).getall("COMM") if f.desc == ""]
        return ["\n".join(f.text) for f in frames]
    return File(path).tags.get("comment", [])


def main():
    folder, ext, wanted = sys.argv[1], sys.argv[2], sys.argv[3]
    wrong = 0
    for root, _, names in os.walk(folder):
        for name in names:
            if name.endswith("." + ext):
                try:
                    ok = comment(os.path.join(root, name), ext) == [wanted]
                except Exception:
                    ok = False
                wrong += not ok
    print(wrong)


if __name__ == "__main__":
    main()
