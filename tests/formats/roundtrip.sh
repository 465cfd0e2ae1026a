#!/usr/bin/env bash
# Round trips through the shipped plug-ins under Wine, checked with other
# programs' own readers: set a comment, set another, remove it; damaged and
# foreign files are refused and left as they were.
#   roundtrip.sh CPI_WRITE.EXE PLUGIN_DIR WORK_DIR
# Needs the Wine environment of scripts/common.sh.
set -uo pipefail
helper=$1 plugins=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
"$here/make_samples.sh" samples >/dev/null || exit 1
mkdir files

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
same() { [ "$2" == "$3" ] || fail "$1: expected [$3], got [$2]"; }
same_file() { cmp -s "$2" "$3" || fail "$1: $2 differs from $3"; }
winpath() { local p; p=$(realpath -s "$1"); printf 'Z:%s' "${p//\//\\}"; }
source "$here/bundled.sh"
python=/usr/bin/python3  # with the system's mutagen, whatever python3 comes first

# The comments of an MP3 file as mutagen reads them: each comment frame
# without description as "language encoding text", the ID3v1 comment field
# (which mutagen shows as a frame of its own) as "v1 text", and an APEv2
# tag's Comment item as "ape text".
mutagen_comments() {
  $python - "$1" <<'PY'
import sys
from mutagen.apev2 import APEv2, APENoHeaderError
from mutagen.id3 import ID3, ID3NoHeaderError
try:
    for f in ID3(sys.argv[1]).getall("COMM"):
        if f.desc == "":
            print("%s %d %s" % (f.lang, f.encoding, "\n".join(f.text)))
        elif f.desc == "ID3v1 Comment":
            print("v1 " + f.text[0].encode("latin-1").decode("cp932"))
except ID3NoHeaderError:
    pass
try:
    ape = APEv2(sys.argv[1])
    if "Comment" in ape:
        print("ape " + str(ape["Comment"]))
except APENoHeaderError:
    pass
PY
}
# Every ID3v2 frame but the comments a write replaces, as mutagen reads it,
# with the frames it keeps unread: what a write must leave as readers read
# it.
mutagen_frames() {
  $python - "$1" <<'PY'
import sys
from mutagen.id3 import ID3, ID3NoHeaderError
try:
    tag = ID3(sys.argv[1], load_v1=False)
except ID3NoHeaderError:
    sys.exit()
for f in tag.values():
    if f.FrameID != "COMM" or f.desc != "":
        print(repr(f))
for f in tag.unknown_frames:
    print(f)
PY
}
# A v2.4 tag's checksum, as the ID3v2.4 structure document defines it:
# CRC-32 over the frames and the padding, in five bytes of seven bits.
id3_crc_ok() {
  $python - "$1" <<'PY'
import sys, zlib
d = open(sys.argv[1], "rb").read()
size = lambda b: sum(x << (7 * (len(b) - 1 - i)) for i, x in enumerate(b))
end = 10 + size(d[6:10])
frames = 10 + size(d[10:14])
sys.exit(size(d[17:22]) != zlib.crc32(d[frames:end]))
PY
}
# XPComment as Exiv2 and Pillow read it, one line each.
xp_comments() {
  printf '%s\n' "$(exiv2 -q -K Exif.Image.XPComment -Pt "$1" 2>/dev/null)"
  $python -c 'import sys; from PIL import Image
v = Image.open(sys.argv[1]).getexif().get(0x9C9C)
print(v.decode("utf-16-le").rstrip("\0") if v else "")' "$1"
}
# Every tag exiftool finds (binary ones as base64), but the comments, the
# file system's, the byte order of an Exif segment added for XPComment,
# and the multi-picture index's offsets and first size, which follow the
# first image's growth (the pictures themselves are compared apart).
jpeg_tags() {
  exiftool -j -a -u -G1 -b "$1" | $python -c 'import json, sys
for k, v in sorted(json.load(sys.stdin)[0].items()):
    group, tag = (k.split(":") + [""])[:2]
    if group not in ("SourceFile", "System") and k not in ("ExifTool:ExifToolVersion",
            "File:Comment", "IFD0:XPComment", "File:ExifByteOrder") and tag not in ("MPImageStart", "MPImageLength"):
        print(k, v)'
}
# The decoded samples, to compare before and after.
samples() { ffmpeg -v error -i "$1" -map 0:a -f s16le - | md5sum; }
# The comment frames without description of a WAV file's id3 chunk as
# mutagen reads them, "language encoding text".
mutagen_wav_comments() {
  $python - "$1" <<'PY'
import sys
from mutagen.wave import WAVE
tags = WAVE(sys.argv[1]).tags
for f in tags.getall("COMM") if tags else []:
    if f.desc == "":
        print("%s %d %s" % (f.lang, f.encoding, "\n".join(f.text)))
PY
}
# The chunks of a WAV file, walked here with their pad bytes: every chunk
# but the INFO list and the id3 chunk, and every INFO item but ICMT, by its
# id and its data's digest; and whether the RIFF size counts them all.
wav_chunks() {
  $python - "$1" <<'PY'
import hashlib, struct, sys
d = open(sys.argv[1], "rb").read()
def chunks(data, at):
    found = []
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        found.append((cid, data[at + 8:at + 8 + size]))
        at += 8 + size + size % 2
    return found, at
found, end = chunks(d, 12)
print("RIFF size and chunks fill the file:", end == len(d) and struct.unpack("<I", d[4:8])[0] == len(d) - 8)
for cid, data in found:
    if cid == b"LIST" and data[:4] == b"INFO":
        for item, text in chunks(data, 4)[0]:
            if item != b"ICMT":
                print("INFO", item, hashlib.md5(text).hexdigest())
    elif cid != b"id3 ":
        print(cid, hashlib.md5(data).hexdigest())
PY
}

# write COMMENT_FILE EXPECTED_RESULT FILE...: one Wine run for all files,
# with the plug-ins of the folder $dir if set.
write() {
  local comment=$1 expected=$2 f out count=0 result path
  shift 2
  : >jobs.txt
  for f in "$@"; do
    printf '%s|%s|%s\r\n' "$(winpath "${dir:-$plugins}/$(plugin_for "$f").cpi")" "$(winpath "$f")" \
      "$(winpath "$comment")" >>jobs.txt
  done
  out=$(wine "$helper" "$(winpath jobs.txt)" 2>helper.err | tr -d '\r') || fail "helper: $(cat helper.err)"
  while read -r result path; do
    [ -n "$result" ] || continue
    same "result for $path" "$result" "$expected"
    count=$((count + 1))
  done <<<"$out"
  same "jobs run" "$count" "$#"
}

# Comments: plain text; Shift_JIS with a line break; one too long for a ZIP
# and split in a JPEG; none at all.
printf 'Kestrane comment one' >one.txt
printf '\x83\x52\x83\x81\x83\x93\x83\x67 two\r\nline' >two.txt
head -c 70000 /dev/zero | tr '\0' k >long.txt
: >none.txt

# The comment as each reader shows it, compared with the comment file.
check_comment() {  # check_comment FILE COMMENT_FILE
  local f=$1 c=$2 want got
  case $f in
    *.zip)  # unzip shows line breaks as LF; Python's zipfile gives the stored bytes
      got=$(unzip -z "$f" | tail -n +2)
      want=$(tr -d '\r' <"$c")
      same "unzip -z $f" "$got" "$want"
      cmp -s <($python -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).comment)' "$f") "$c" ||
        fail "zipfile comment of $f" ;;
    *.jpg)  # rdjpgcom ends each COM segment with a line feed
      got=$(rdjpgcom -raw "$f" | od -An -tx1 | tr -d ' \n')
      if [ "$(stat -c %s "$c")" -gt 65533 ]; then
        want=$({ head -c 65533 "$c"; echo; tail -c +65534 "$c"; echo; } | od -An -tx1 | tr -d ' \n')
      else
        want=$({ cat "$c"; [ -s "$c" ] && echo; } | od -An -tx1 | tr -d ' \n')
      fi
      same "rdjpgcom $f" "$got" "$want"
      [ "$(stat -c %s "$c")" -gt 65533 ] ||
        same "exiftool -Comment $f" "$(exiftool -b -Comment "$f" 2>/dev/null | od -An -tx1)" "$(od -An -tx1 "$c")"
      check_xp "$f" "$c" ;;
    *.png)  # PNG text is UTF-8 with LF line breaks
      same "exiftool -Comment $f" "$(exiftool -b -Comment "$f" 2>/dev/null)" "$(iconv -f CP932 -t UTF-8 "$c" | tr -d '\r')" ;;
    *.gif)
      same "exiftool -Comment $f" "$(exiftool -b -Comment "$f" 2>/dev/null | od -An -tx1)" "$(od -An -tx1 "$c")" ;;
    *.mp3 | *.flac | *.ogg | *.opus)  # Unicode with LF line breaks
      want=$(iconv -f CP932 -t UTF-8 "$c" | tr -d '\r')
      same "ffprobe comment of $f" "$(ffprobe -v error -show_entries format_tags=comment:stream_tags=comment \
        -of default=nw=1:nk=1 "$f")" "$want"
      # exiftool shows the last comment frame, here the one with a description.
      [[ $f == files/v24.mp3 || $f == files/v22.mp3 ]] ||
        same "exiftool -Comment $f" "$(exiftool -b -Comment "$f" 2>/dev/null)" "$want" ;;&
    *.mp3)  # ID3v1: Shift_JIS, a line break as a space; these comments fit its 28 bytes
      got=$(mutagen_comments "$f")
      # UTF-8 where the tag allows only that or Latin-1.
      want2=${want:+eng $([ "$f" == files/crc.mp3 ] && echo 3 || echo 1) $want}
      case $f in files/v23.mp3 | files/v22.mp3 | files/ape.mp3)
        want2=$(printf '%s\nv1 %s' "$want2" "$(tr -d '\n' <"$c" | tr '\r' ' ' | iconv -f CP932 -t UTF-8)") ;;
      esac
      [ "$f" != files/ape.mp3 ] || want2=$(printf '%s\nape %s' "$want2" "$want")
      same "mutagen $f" "$got" "$(printf '%s' "$want2" | sed '/^v1 $/d; /^ape $/d; /^$/d')"
      [[ $f != files/v23.mp3 && $f != files/unsync23.mp3 ]] || [ ! -s "$c" ] ||
        same "id3v2 -l $f" "$(id3v2 -l "$f" | grep "^COMM")" "COMM (Comments): ()[eng]: $(head -n 1 <<<"$want")" ;;
    *.flac)
      same "metaflac COMMENT of $f" "$(metaflac --show-tag=COMMENT "$f")" "${want:+COMMENT=$want}" ;;
    *.m4a | *.mp4)  # UTF-8 with LF line breaks, one value in one ©cmt item
      want=$(iconv -f CP932 -t UTF-8 "$c" | tr -d '\r')
      same "ffprobe comment of $f" "$(ffprobe -v error -show_entries format_tags=comment -of default=nw=1:nk=1 "$f")" "$want"
      same "exiftool -ItemList:Comment $f" "$(exiftool -b -ItemList:Comment "$f" 2>/dev/null)" "$want"
      same "mutagen ©cmt of $f" "$($python -c 'import sys, mutagen.mp4 as m
print(*m.MP4(sys.argv[1]).tags.get("\xa9cmt", []), sep="|")' "$f")" "$want" ;;
    *.ogg)
      same "vorbiscomment -l $f" "$(vorbiscomment -l "$f" | sed -n '/^COMMENT=/,$p')" "${want:+COMMENT=$want}" ;;
    *.opus)
      same "opusinfo COMMENT of $f" "$(opusinfo "$f" | grep -c $'^\tCOMMENT=')" "$([ -n "$want" ] && echo 1 || echo 0)" ;;
    *.wav)  # the id3 frame in Unicode with LF; the ICMT item as the comment file's bytes
      want=$(iconv -f CP932 -t UTF-8 "$c" | tr -d '\r')
      same "mutagen $f" "$(mutagen_wav_comments "$f")" "${want:+eng 1 $want}"
      # exiftool shows the last comment frame, here the one with a description.
      [ "$f" == files/tagged.wav ] || same "exiftool -ID3:Comment $f" "$(exiftool -b -ID3:Comment "$f" 2>/dev/null)" "$want"
      # RIFF text as it stands: exiftool gives the bytes back in "Latin".
      same "exiftool -RIFF:Comment $f" "$(exiftool -charset Latin -b -RIFF:Comment "$f" 2>/dev/null | od -An -tx1)" \
        "$(od -An -tx1 "$c")"
      # ffprobe shows the ICMT item rather than the frame, as UTF-8: plain
      # ASCII reads the same.
      LC_ALL=C grep -q '[^ -~]' "$c" || same "ffprobe comment of $f" \
        "$(ffprobe -v error -show_entries format_tags=comment -of default=nw=1:nk=1 "$f")" "$want" ;;
  esac
}

# XPComment as exiftool, Exiv2 and Pillow read it, compared with the
# comment file, unless that is too long for one Exif segment.
check_xp() {  # check_xp FILE COMMENT_FILE
  local want
  [ "$(stat -c %s "$2")" -le 32000 ] || return 0
  want=$(iconv -f CP932 -t UTF-8 "$2")
  same "exiftool -XPComment $1" "$(exiftool -b -XPComment "$1" 2>/dev/null)" "$want"
  same "Exiv2 and Pillow XPComment of $1" "$(xp_comments "$1")" "$(printf '%s\n%s' "$want" "$want")"
}

# The rest of the file is what it was: archive members and pixels.
check_intact() {  # check_intact FILE ORIGINAL
  local f=$1 o=$2 m
  case $f in
    *.zip)
      # (It warns of a program in front, and so does it for the original.)
      grep -q "^No errors detected" <<<"$(unzip -tq "$f" 2>&1)" || fail "unzip -t $f"
      for m in a.txt b.bin; do cmp -s <(unzip -p "$f" "$m" 2>/dev/null) "samples/members/$m" || fail "$f: member $m changed"; done
      $python -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$f" ||
        fail "zipfile test of $f"
      # 7z opens no archive behind a program its offsets do not count.
      [[ $f == *sfx* ]] || 7z t "$f" >/dev/null || fail "7z t $f"
      # The program and bytes after the archive stay as they were.
      [[ $f != *sfx* ]] || cmp -s -n 4096 "$f" samples/stub.bin || fail "$f: the program in front changed"
      [[ $f != *trail* ]] || same "end of $f" "$(tail -c 5 "$f")" "junk" ;;
    *.png) pngcheck -q "$f" >/dev/null || fail "pngcheck $f" ;;&
    *.jpg | *.png | *.gif)
      same "pixels of $f" "$(identify -format '%#' "$f")" "$(identify -format '%#' "$o")" ;;&
    *.jpg)
      same "djpeg pixels of $f" "$(djpeg "$f" | md5sum)" "$(djpeg "$o" | md5sum)"
      same "exiftool tags of $f" "$(jpeg_tags "$f")" "$(jpeg_tags "$o")" ;;&
    *mpf_*.jpg)  # the later pictures where the index says they are; the first still decodes
      cmp -s <(exiftool -b -MPImage2 "$f") samples/mpf_second.jpg || fail "$f: second picture lost"
      [[ $f != *mpf_ii* ]] || cmp -s <(exiftool -b -MPImage3 "$f") samples/mpf_third.jpg || fail "$f: third picture lost"
      djpeg "$f" >/dev/null || fail "djpeg $f" ;;
    *.mp3 | *.flac | *.ogg | *.opus | *.wav)
      same "decoded samples of $f" "$(samples "$f")" "$(samples "$o")" ;;&
    *.mp3) same "ID3v2 frames of $f" "$(mutagen_frames "$f")" "$(mutagen_frames "$o")" ;;&
    *unsync*.mp3) same "unsynchronisation flag of $f" "$(head -c 6 "$f" | tail -c 1 | od -An -tx1)" " 00" ;;&
    *v22.mp3) same "version of $f" "$(head -c 4 "$f" | od -An -tx1)" " 49 44 33 02" ;;
    *crc.mp3) id3_crc_ok "$f" || fail "$f: the tag's checksum is wrong" ;;
    *stray.mp3) cmp -s -i "$(($(stat -c %s "$f") - $(stat -c %s "$o"))):0" "$f" "$o" || fail "$f: stray bytes or audio changed" ;;
    *two.flac)  # the second comment block keeps its other field
      same "second block of $f" "$(metaflac --list --block-type=VORBIS_COMMENT "$f" | grep -c ': ARTIST=Second$')" 1 ;;&
    *.flac) flac -t -s "$f" 2>/dev/null || fail "flac -t $f" ;;
    *.m4a | *.mp4)  # every stream decodes and is described as before
      same "decoded streams of $f" "$(ffmpeg -v error -i "$f" -map 0 -f md5 -)" "$(ffmpeg -v error -i "$o" -map 0 -f md5 -)"
      same "ffprobe -show_streams $f" "$(ffprobe -v error -show_streams "$f")" "$(ffprobe -v error -show_streams "$o")" ;;
    *padded.ogg)  # ogginfo counts the zeros after the last page as a hole, before as after
      cmp -s <(tail -c 1000 "$f") <(head -c 1000 /dev/zero) || fail "$f: the bytes after the last page changed"
      ogginfo <(head -c -1000 "$f") >ogginfo.txt || fail "ogginfo $f: $(grep -E 'WARN|ERR' ogginfo.txt)" ;;
    *.ogg | *.opus) ogginfo "$f" >ogginfo.txt || fail "ogginfo $f: $(grep -E 'WARN|ERR' ogginfo.txt)" ;;&
    *.opus) opusinfo "$f" >/dev/null || fail "opusinfo $f" ;;
    *.wav)  # every other chunk and item as it was, the pad byte that nopad lacked now there
      [[ $o != *nopad.wav ]] || o=samples/odd.wav
      same "chunks of $f" "$(wav_chunks "$f")" "$(wav_chunks "$o")"
      same "sox samples of $f" "$(sox "$f" -t raw - | md5sum)" "$(sox "$o" -t raw - | md5sum)"
      same "ffprobe streams of $f" "$(ffprobe -v error -show_streams "$f")" "$(ffprobe -v error -show_streams "$o")" ;;
  esac
}

# After removal a file equals its original without the comment: the same
# file as made without one (the first six bytes of a GIF87a become GIF89a).
declare -A bare=(
  [stored.zip]=stored.zip [deflated.zip]=deflated.zip [zip64.zip]=zip64.zip
  [trail.zip]=trail.zip [sfx.zip]=sfx.zip [sfx64.zip]=sfx64.zip
  [plain.jpg]=plain.jpg [progressive.jpg]=progressive.jpg [commented.jpg]=plain.jpg [mpf_ii.jpg]=mpf_ii.jpg
  [plain.png]=plain.png [plain.gif]=plain.gif [animated.gif]=animated.gif [commented.gif]=plain.gif
  [old87a.gif]=old87a.gif
  [plain.flac]=plain.flac [id3.flac]=id3.flac [plain.ogg]=plain.ogg [chained.ogg]=chained.ogg
  [padded.ogg]=padded.ogg
  [plain.wav]=plain.wav [odd.wav]=odd.wav [nopad.wav]=odd.wav [commented.wav]=titled.wav
  [broadcast.wav]=broadcast_uncommented.wav
  [plain.m4a]=plain.m4a [commented.m4a]=plain.m4a
)
names=(stored.zip deflated.zip zip64.zip commented.zip trail.zip sfx.zip sfx64.zip cut.zip
       plain.jpg exif.jpg progressive.jpg commented.jpg mpf_ii.jpg mpf_mm.jpg mpf_hdr.jpg
       exif_ii.jpg exif_mm.jpg xp.jpg mpf_exif.jpg
       plain.png commented.png plain.gif animated.gif commented.gif old87a.gif
       plain.mp3 v23.mp3 v24.mp3 v22.mp3 crc.mp3 stray.mp3 ape.mp3 unsync23.mp3 unsync24.mp3 plain24.mp3
       plain.flac commented.flac noblock.flac id3.flac two.flac
       plain.ogg commented.ogg chained.ogg shared.ogg padded.ogg tiny.ogg commented.opus tiny.opus
       plain.wav commented.wav broadcast.wav odd.wav nopad.wav tagged.wav
       plain.m4a faststart.m4a commented.m4a video.mp4 padded.m4a bare.m4a)
targets=()
for n in "${names[@]}"; do cp "samples/$n" files/ && targets+=("files/$n"); done

for c in one.txt two.txt; do
  write "$c" 0 "${targets[@]}"
  for n in "${names[@]}"; do
    check_comment "files/$n" "$c"
    check_intact "files/$n" "samples/$n"
  done
done
same "GIF87a after a comment" "$(head -c 6 files/old87a.gif)" "GIF89a"
# The same comment again changes no file.
rm -rf files.once && cp -r files files.once
write two.txt 0 "${targets[@]}"
for n in "${names[@]}"; do same_file "second write of $n" "files/$n" "files.once/$n"; done

# Too long for the format: refused as such and left as it was (over 65535
# bytes for ZIP, over the 40 KB the tag's restriction allows for crc.mp3,
# over one Exif segment as XPComment).
write long.txt 9 files/stored.zip files/crc.mp3 files/plain.jpg
for n in stored.zip crc.mp3 plain.jpg; do check_comment "files/$n" two.txt; done
# The JPEG plug-in with each of its settings (both comments, the segment
# only, XPComment only), each in a folder of its own with its settings file.
for k in 0 1 2; do
  mkdir "jpeg$k" && cp "$plugins/kes_jpeg.cpi" "jpeg$k/" &&
    printf '[Settings]\r\nComments=%s\r\n' "$k" >"jpeg$k/kes_jpeg.ini"
done
# Long: split JPEG segments (the segment alone), several Ogg pages for the
# comment header, a larger ID3v2 tag (also one that was unsynchronised).
long_music=(v24.mp3 unsync24.mp3 commented.flac chained.ogg commented.opus tagged.wav video.mp4)
dir=jpeg1 write long.txt 0 files/plain.jpg
write long.txt 0 files/plain.png files/plain.gif "${long_music[@]/#/files/}"
for n in plain.jpg plain.png plain.gif "${long_music[@]}"; do check_comment "files/$n" long.txt; done
for n in "${long_music[@]}"; do check_intact "files/$n" "samples/$n"; done
# A Japanese comment over one segment is cut between two characters.
python3 -c "import sys; sys.stdout.buffer.write('ソ'.encode('cp932') * 35000)" >long_japanese.txt
dir=jpeg1 write long_japanese.txt 0 files/mpf_mm.jpg
same "segments of a long Japanese comment" "$(rdjpgcom -raw files/mpf_mm.jpg | LC_ALL=C awk '{print length($0)}')" \
  $'65532\n4468'
check_intact files/mpf_mm.jpg samples/mpf_mm.jpg

# Each JPEG setting writes its comment and leaves the other as the file has
# it: the segment alone keeps Windows' XPComment, XPComment alone keeps the
# old segment; both replace both.
mkdir settings && cp samples/xp.jpg samples/commented.jpg samples/exif_mm.jpg settings/
dir=jpeg1 write one.txt 0 settings/xp.jpg
dir=jpeg2 write one.txt 0 settings/commented.jpg
dir=jpeg0 write two.txt 0 settings/exif_mm.jpg
same "segment of settings/xp.jpg" "$(exiftool -b -Comment settings/xp.jpg)" "Kestrane comment one"
same "XPComment of settings/xp.jpg" "$(xp_comments settings/xp.jpg)" $'old XP comment\nold XP comment'
same "segment of settings/commented.jpg" "$(exiftool -b -Comment settings/commented.jpg)" "old comment"
check_xp settings/commented.jpg one.txt
check_comment settings/exif_mm.jpg two.txt
for n in xp.jpg commented.jpg exif_mm.jpg; do check_intact "settings/$n" "samples/$n"; done

# Text that is no Shift_JIS (a lead byte alone) cannot become Unicode.
printf 'broken \x83' >broken.txt
cp -r files files.orig
write broken.txt 1 files/v24.mp3 files/commented.flac files/commented.opus files/commented.wav files/padded.m4a
for n in v24.mp3 commented.flac commented.opus commented.wav padded.m4a; do same_file "refused $n" "files/$n" "files.orig/$n"; done

write none.txt 0 "${targets[@]}"
for n in "${names[@]}"; do
  check_intact "files/$n" "samples/$n"
  case $n in
    *.jpg) [ -z "$(exiftool -s3 -XPComment "files/$n" 2>/dev/null)" ] || fail "files/$n keeps XPComment" ;;&
    *.jpg | *.png | *.gif) [ -z "$(exiftool -s3 -Comment "files/$n" 2>/dev/null)" ] || fail "files/$n keeps a comment" ;;
    *.zip | *.mp3 | *.flac | *.ogg | *.opus | *.wav | *.m4a | *.mp4) check_comment "files/$n" none.txt ;;
  esac
  if [ -n "${bare[$n]:-}" ]; then
    skip=0 && [ "$n" == old87a.gif ] && skip=6
    cmp -s -i "$skip" "files/$n" "samples/${bare[$n]}" || fail "files/$n after removal differs from ${bare[$n]}"
  fi
done
for n in commented.zip cut.zip; do  # "old comment", whole or cut short
  same "$n without comment" "$(stat -c %s files/$n)" "$(($(stat -c %s samples/commented.zip) - 11))"
done

# Damaged and foreign files.
mkdir bad
printf 'just some text\r\n' >bad/text.zip
head -c -10 samples/stored.zip >bad/truncated.zip
# A stored member holding an end record, with the real directory cut off.
printf 'PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' >record.bin
(cd samples/members && zip -q -X -0 ../../sig.zip ../../record.bin)
head -c "$(($(grep -obUa 'PK' sig.zip | awk -F: '$2=="PK" {print $1}' | sed -n 2p) + 22))" sig.zip >bad/signature-in-data.zip
tail -c +3 samples/plain.jpg >bad/no-soi.jpg
head -c 200 samples/progressive.jpg >bad/truncated.jpg
head -c -1 samples/mpf_ii.jpg >bad/last-picture-cut.jpg
cp samples/plain.png bad/bad-crc.png
printf 'X' | dd of=bad/bad-crc.png bs=1 seek=$(($(grep -obUa IDAT samples/plain.png | cut -d: -f1) + 8)) conv=notrunc status=none
head -c -1 samples/plain.gif >bad/truncated.gif
printf 'just some text\r\n' >bad/text.mp3
{ printf 'ID3\x02'; tail -c +5 samples/v23.mp3; } >bad/v23-frames-in-v22.mp3
cp samples/crc.mp3 bad/wrong-checksum.mp3
printf '\x7f' | dd of=bad/wrong-checksum.mp3 bs=1 seek=21 conv=notrunc status=none
cp samples/ape.mp3 bad/ape-past-audio.mp3  # the APE footer's size past the audio
printf '\xff\xff\x00' | dd of=bad/ape-past-audio.mp3 bs=1 seek=$(($(stat -c %s samples/ape.mp3) - 128 - 32 + 12)) conv=notrunc status=none
# Unsynchronised, but with false syncs left (the byte order marks $FF $FE).
{ printf 'ID3\x02\x00\x80'; tail -c +7 samples/v22.mp3; } >bad/unsynchronised.mp3
{ printf 'RIFF'; cat samples/plain.flac; } >bad/foreign-front.flac
head -c 100 samples/commented.flac >bad/truncated.flac
cp samples/plain.ogg bad/bad-crc.ogg
printf 'X' | dd of=bad/bad-crc.ogg bs=1 seek=$(($(stat -c %s samples/plain.ogg) - 20)) conv=notrunc status=none
head -c -5 samples/commented.opus >bad/truncated.opus
{ cat samples/plain.ogg; head -c 100 samples/plain.ogg; } >bad/page-cut-after-last.ogg
cp samples/shared.opus bad/  # Opus headers must end their page
head -c -10 samples/plain.m4a >bad/truncated.m4a
cp samples/fragmented.m4a bad/
{ cat samples/deflated.zip; printf 'PK\x05\x06'; } >bad/signature-after-comment.zip
{ head -c -2 samples/deflated.zip; printf '\x20\x00see PK\x05\x06 here'; } >bad/signature-in-comment-cut.zip
printf 'just some text\r\n' >bad/text.wav
head -c 100 samples/commented.wav >bad/truncated.wav
{ cat samples/plain.wav; printf 'TAG%125s' ''; } >bad/id3v1-after-riff.wav
cp samples/rf64.wav bad/
# Streamed to a pipe, ffmpeg leaves the sizes at their largest.
ffmpeg -v error -i samples/plain.wav -c copy -fflags +bitexact -f wav - >bad/streamed.wav
# An unsynchronised id3 tag with a false sync ($FF $E0) left in a comment.
cp samples/tagged.wav bad/unsynchronised.wav
printf '\x80' | dd of=bad/unsynchronised.wav bs=1 conv=notrunc status=none \
  seek=$(($(grep -obUa ID3 samples/tagged.wav | head -n 1 | cut -d: -f1) + 5))
printf '\xff\xe0' | dd of=bad/unsynchronised.wav bs=1 conv=notrunc status=none \
  seek=$(($(grep -obUa iTunNORM samples/tagged.wav | head -n 1 | cut -d: -f1) + 9))
cp -r bad bad.orig
write one.txt 1 bad/*
for f in bad/*; do same_file "refused $f" "$f" "bad.orig/${f#bad/}"; done
# Empty comment, damaged file: refused just the same.
write none.txt 1 bad/*.mp3 bad/*.flac bad/*.ogg bad/*.opus bad/*.wav bad/*.m4a
for f in bad/*; do same_file "refused $f" "$f" "bad.orig/${f#bad/}"; done
same "files left beside the targets" "$(ls files bad | grep -ciE '\.(tmp|bak)$')" "0"

# Links: a hard link is one file under two names, a symbolic link leads to
# another file. A rewrite would part the names, or put a plain file in the
# link's place (under Wine it even removed the file the link led to), so
# both are refused and left as they were.
mkdir links
cp samples/stored.zip links/file.zip
ln links/file.zip links/hard.zip
cp samples/stored.zip links/led-to.zip
ln -s led-to.zip links/soft.zip
write one.txt 3 links/hard.zip links/soft.zip
for f in file.zip led-to.zip; do same_file "links/$f" "links/$f" samples/stored.zip; done
same "names of the hard-linked file" "$(stat -c %h links/file.zip)" 2
[ -L links/soft.zip ] || fail "links/soft.zip is no symbolic link any more"
same "files beside the links" "$(ls links | tr '\n' ' ')" "file.zip hard.zip led-to.zip soft.zip "

[ "$failures" -eq 0 ] && echo "all round trips passed" || echo "$failures failures"
[ "$failures" -eq 0 ]
