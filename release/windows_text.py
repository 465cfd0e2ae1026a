#!/usr/bin/env python3
"""Writes a text file of the release as a Japanese Windows user opens it:
Shift_JIS (code page 932) with CR LF line breaks, from a UTF-8 source.

  windows_text.py SOURCE TARGET [--set NAME=VALUE]... [--plugins TABLE]

Each @NAME@ becomes its value. With --plugins, the line @BUNDLED_PLUGINS@
becomes the bundled plug-ins in columns, from TABLE's lines of file name,
description and patterns separated by tabs. A text that Shift_JIS cannot
hold, or a placeholder left unfilled, fails the build."""
import argparse
import os
import re
import sys

ENCODING = "cp932"


def width(text):
    # In a fixed-pitch font a Shift_JIS character is as wide as its bytes.
    return len(text.encode(ENCODING))


def plugin_lines(table_path):
    with open(table_path, encoding="utf-8") as table:
        rows = [line.rstrip("\n").split("\t") for line in table if line.strip()]
    if not rows:
        sys.exit(f"{table_path}: no bundled plug-in")
    widths = [max(width(row[i]) for row in rows) for i in range(2)]
    return ["  " + "".join(cell + " " * (widths[i] - width(cell) + 2) for i, cell in enumerate(row[:2])) + row[2]
            for row in rows]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--plugins", metavar="TABLE")
    args = parser.parse_args()

    with open(args.source, encoding="utf-8") as source:
        lines = source.read().splitlines()
    if args.plugins:
        at = lines.index("@BUNDLED_PLUGINS@")
        lines[at:at + 1] = plugin_lines(args.plugins)
    text = "\r\n".join(lines) + "\r\n"
    for assignment in args.set:
        name, value = assignment.split("=", 1)
        text = text.replace(f"@{name}@", value)
    left = re.search(r"@[A-Z_]+@", text)
    if left:
        sys.exit(f"{args.source}: {left.group(0)} is not filled in")
    os.makedirs(os.path.dirname(os.path.abspath(args.target)), exist_ok=True)
    with open(args.target, "wb") as target:
        target.write(text.encode(ENCODING))


if __name__ == "__main__":
    main()
