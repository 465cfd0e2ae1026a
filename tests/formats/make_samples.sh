#!/usr/bin/env bash
# Makes the sample files the format tests work on, with the real tools:
# ImageMagick for images, zip for archives. Usage: make_samples.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
cd "$out"
im=/usr/bin/convert  # a stand-in convert may come first on PATH

# Images: plain, with an old comment, and the variants whose layout matters.
$im -size 16x12 gradient:red-blue plain.jpg
$im -comment "old comment" -size 16x12 gradient:red-blue commented.jpg
$im -size 64x48 gradient:red-blue -interlace Plane progressive.jpg
cp plain.jpg exif.jpg && exiftool -q -overwrite_original -Artist=Kestrane exif.jpg
$im -size 16x12 gradient:red-blue plain.png
$im -comment "old comment" -size 16x12 gradient:red-blue commented.png
$im -size 16x12 gradient:red-blue plain.gif
$im -comment "old comment" -size 16x12 gradient:red-blue commented.gif
$im -size 16x12 gradient:red-blue GIF87:old87a.gif
$im -delay 10 -size 16x12 xc:red xc:blue -loop 0 animated.gif

# Archives: members of text and of data that does not compress.
mkdir -p members
printf 'first member\r\nof the archive\r\n' >members/a.txt
head -c 40000 /dev/urandom >members/b.bin
(cd members && zip -q -X -0 ../stored.zip a.txt b.bin)
(cd members && zip -q -X -9 ../deflated.zip a.txt b.bin)
(cd members && echo "old comment" | zip -q -X -z ../commented.zip a.txt b.bin)
(cd members && zip -q -X -fz ../zip64.zip a.txt b.bin)

# Pictures with more pictures after them, as cameras store them, located by
# a multi-picture index in either byte order; the second from a first image
# with an old comment in front of its index.
$im -size 32x24 gradient:green-yellow mpf_second.jpg
$im -size 8x6 xc:gray mpf_third.jpg
python3 "$here/make_mpf.py" mpf_ii.jpg II plain.jpg mpf_second.jpg mpf_third.jpg
python3 "$here/make_mpf.py" mpf_mm.jpg MM commented.jpg mpf_second.jpg
