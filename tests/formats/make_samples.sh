#!/usr/bin/env bash
# Makes the sample files the format tests work on, with the real tools:
# ImageMagick for images, zip for archives. Usage: make_samples.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
cd "$out"
im=/usr/bin/convert  # a stand-in convert may come first on PATH
python=/usr/bin/python3  # with the system's mutagen, whatever python3 comes first

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
# A stray byte and text after the archive, and archives behind a program
# (a self-extractor's stand-in) that their offsets do not count.
{ cat deflated.zip; printf 'junk\n'; } >trail.zip
# A download cut short in the comment: the end record states more of it
# than the file holds.
head -c -5 commented.zip >cut.zip
{ printf 'MZ'; head -c 4094 /dev/zero; } >stub.bin
cat stub.bin deflated.zip >sfx.zip
cat stub.bin zip64.zip >sfx64.zip

# Pictures with more pictures after them, as cameras store them, located by
# a multi-picture index in either byte order; the second from a first image
# with an old comment in front of its index.
$im -size 32x24 gradient:green-yellow mpf_second.jpg
$im -size 8x6 xc:gray mpf_third.jpg
python3 "$here/make_mpf.py" mpf_ii.jpg II plain.jpg mpf_second.jpg mpf_third.jpg
python3 "$here/make_mpf.py" mpf_mm.jpg MM commented.jpg mpf_second.jpg
# As some phones store HDR photos with their gain map: the first picture's
# size 70 bytes too large, the gain map's offset right.
python3 "$here/make_mpf.py" --overstate 70 mpf_hdr.jpg MM exif.jpg mpf_second.jpg
# Phone photos: Exif with maker notes, GPS and a thumbnail in either byte
# order, one with an XPComment as Windows writes it, and one with more
# pictures after it.
python3 "$here/make_exif.py" exif_ii.jpg II plain.jpg mpf_third.jpg
python3 "$here/make_exif.py" exif_mm.jpg MM plain.jpg mpf_third.jpg
cp exif_mm.jpg xp.jpg && exiftool -q -overwrite_original -XPComment="old XP comment" xp.jpg
python3 "$here/make_mpf.py" mpf_exif.jpg II exif_ii.jpg mpf_second.jpg

# Music: a short tone, encoded and tagged by the formats' own tools. Kept
# small, since the fuzzers start from these too.
ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.3 -ac 1 -ar 22050 -fflags +bitexact -y tone.wav
ffmpeg -v error -i tone.wav -c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0 -y plain.mp3
cp plain.mp3 v23.mp3 && id3v2 -t Title -c "old comment" -T 5 v23.mp3
$python - <<'PY'
from mutagen.id3 import ID3, COMM, TIT2
tag = ID3()
tag.add(TIT2(encoding=3, text="Title"))
tag.add(COMM(encoding=3, lang="deu", desc="", text="alter Kommentar"))
tag.add(COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000001 00000002"))
tag.add(COMM(encoding=1, lang="eng", desc="", text="second old one"))
with open("plain.mp3", "rb") as f: audio = f.read()
with open("v24.mp3", "wb") as f: f.write(audio)
tag.save("v24.mp3", v2_version=4, padding=lambda info: 64)
PY
# Tags the common taggers no longer write (v2.2, a v2.4 checksum with
# restricted encodings and size), stray bytes (zeros, the end of a removed
# tag) before the first frame of an untagged file, and an APEv2 tag with a
# Comment item before an ID3v1 tag.
python3 "$here/make_id3.py" v22 v22.mp3 plain.mp3
python3 "$here/make_id3.py" crc crc.mp3 plain.mp3
# Unsynchronised tags (a v2.3 one as a whole, v2.4 frames each), with an
# encrypted and a compressed frame, and a v2.4 tag with frame sizes as
# plain integers and ids of lower-case letters and spaces.
for kind in unsync23 unsync24 plain24; do python3 "$here/make_id3.py" $kind $kind.mp3 plain.mp3; done
{ head -c 300 /dev/zero; printf 'TIT2\0\0\0\x06\0\0\0Title'; cat plain.mp3; } >stray.mp3
cp plain.mp3 ape.mp3
$python -c 'from mutagen.apev2 import APEv2; t = APEv2(); t["Artist"] = "Kestrane"; t["Comment"] = "old APE comment"; t.save("ape.mp3")'
id3v2 -1 -t Title -c "old v1" ape.mp3
flac -s -f --no-padding -o plain.flac tone.wav
flac -s -f -P 256 -T TITLE=Title -T "COMMENT=old comment" -T "comment=second old one" -o commented.flac tone.wav
cp plain.flac noblock.flac && metaflac --remove --block-type=VORBIS_COMMENT --dont-use-padding noblock.flac
cp plain.flac id3.flac && $python -c 'from mutagen.id3 import ID3, TIT2; t = ID3(); t.add(TIT2(encoding=3, text="Title")); t.save("id3.flac", padding=lambda info: 0)'
# A second Vorbis comment block after the first, as some taggers leave one
# (metaflac keeps to one): readers show the first.
cp plain.flac second.flac && metaflac --set-tag="COMMENT=second block comment" --set-tag=ARTIST=Second second.flac
$python - commented.flac second.flac two.flac <<'PY'
import sys
def blocks(d):
    at = d.index(b"fLaC") + 4
    out = []
    while True:
        head, size = d[at], int.from_bytes(d[at + 1:at + 4], "big")
        out.append((head & 0x7F, d[at + 4:at + 4 + size]))
        at += 4 + size
        if head & 0x80:
            return d[:d.index(b"fLaC") + 4], out, d[at:]
start, first, audio = blocks(open(sys.argv[1], "rb").read())
extra = [b for b in blocks(open(sys.argv[2], "rb").read())[1] if b[0] == 4]
at = [t for t, _ in first].index(4) + 1
laid = first[:at] + extra + first[at:]
with open(sys.argv[3], "wb") as f:
    f.write(start)
    for i, (kind, data) in enumerate(laid):
        f.write(bytes([kind | (0x80 if i + 1 == len(laid) else 0)]) + len(data).to_bytes(3, "big") + data)
    f.write(audio)
PY
oggenc -Q -q 0 -s 1 -o plain.ogg tone.wav
oggenc -Q -q 0 -s 2 -c TITLE=Title -c "COMMENT=old comment" -c "comment=second old one" -o commented.ogg tone.wav
cat plain.ogg commented.ogg >chained.ogg
opusenc --quiet --serial 3 --comment "COMMENT=old comment" tone.wav commented.opus
# As older Vorbis encoders wrote it: audio packets on the last header page,
# from an encode long enough for two audio pages (kept to compare with);
# the same with Opus, whose headers must end their page; and bytes after
# the last page.
ffmpeg -v error -f lavfi -i sine=frequency=440:duration=8 -ac 1 -ar 22050 -fflags +bitexact -y tone8.wav
oggenc -Q -q -1 -s 4 -c "COMMENT=old comment" -o framed.ogg tone8.wav
python3 "$here/make_ogg.py" shared framed.ogg shared.ogg
python3 "$here/make_ogg.py" shared commented.opus shared.opus
# Header packets spread over pages of one segment each, the comment's
# closing segment of 0 bytes on a page without the continued flag.
python3 "$here/make_ogg.py" tiny commented.ogg tiny.ogg
python3 "$here/make_ogg.py" tiny commented.opus tiny.opus
{ cat plain.ogg; head -c 1000 /dev/zero; } >padded.ogg

# WAV, short PCM from sox and ffmpeg. ffmpeg keeps a comment and a title
# in a LIST/INFO chunk before the audio, and writes a broadcast chunk
# before and a peak chunk after it; it also writes each without the
# comment, to compare with. 8-bit audio of an odd length has a pad byte
# after its data, which some writers leave out while the RIFF size counts
# it (nopad); taggers put an id3 chunk at the end; RF64 is refused.
sox -n -r 8000 -c 1 -b 16 plain.wav synth 0.05 sine 440
ffmpeg -v error -i plain.wav -c copy -fflags +bitexact -metadata comment="old comment" -metadata title=Title -y commented.wav
ffmpeg -v error -i plain.wav -c copy -fflags +bitexact -metadata title=Title -y titled.wav
ffmpeg -v error -i plain.wav -fflags +bitexact -write_bext 1 -write_peak on -metadata comment="old comment" -y broadcast.wav
ffmpeg -v error -i plain.wav -fflags +bitexact -write_bext 1 -write_peak on -y broadcast_uncommented.wav
sox -n -r 8000 -c 1 -b 8 odd.wav synth 0.012375 sine 440
head -c -1 odd.wav >nopad.wav
ffmpeg -v error -i plain.wav -c copy -fflags +bitexact -rf64 always -y rf64.wav
cp commented.wav tagged.wav
$python - <<'PY'
from mutagen.id3 import COMM, TIT2
from mutagen.wave import WAVE
wav = WAVE("tagged.wav")
wav.add_tags()
wav.tags.add(TIT2(encoding=3, text="Title"))
wav.tags.add(COMM(encoding=3, lang="eng", desc="", text="id3 comment"))
wav.tags.add(COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000001 00000002"))
wav.save(padding=lambda info: 16)
PY
# MPEG-4: AAC with moov last (as ffmpeg writes it), first (as for
# streaming, with a free atom after it), and with an old comment; a short
# video with sound; a fragmented file, which is refused; one tagged by
# mutagen, which pads its item list with a free atom and writes a comment
# of two values; and one whose user data exiftool removed.
aac=(-c:a aac -b:a 32k -fflags +bitexact)
ffmpeg -v error -i tone.wav "${aac[@]}" -y plain.m4a
ffmpeg -v error -i tone.wav "${aac[@]}" -movflags +faststart -y faststart.m4a
ffmpeg -v error -i tone.wav "${aac[@]}" -metadata comment="old comment" -y commented.m4a
ffmpeg -v error -f lavfi -i testsrc=size=32x24:rate=10:duration=0.3 -i tone.wav -c:v libx264 -preset ultrafast \
  -threads 1 -pix_fmt yuv420p "${aac[@]}" -movflags +faststart -y video.mp4
ffmpeg -v error -i tone.wav "${aac[@]}" -movflags frag_keyframe+empty_moov -y fragmented.m4a
cp faststart.m4a padded.m4a
$python -c 'from mutagen.mp4 import MP4; t = MP4("padded.m4a"); t["\xa9nam"] = ["Title"]; t["\xa9cmt"] = ["old comment", "second old one"]; t.save(padding=lambda info: 100)'
cp faststart.m4a bare.m4a && exiftool -q -overwrite_original -all= bare.m4a
