#!/usr/bin/env bash
# The comment of each file as the formats' common readers show it, for the
# end-to-end tests under Wine: mutagen for MP3, Opus, WAV and MPEG-4,
# metaflac for FLAC, vorbiscomment for Vorbis, exiftool for PNG and WAV's
# ICMT item. A Wine program can neither wait for a Unix program nor read
# its output, so this reads a list of Unix paths (UTF-8, one a line) and
# writes each file's comment, ended by a NUL byte, to OUT, which appears
# whole and last, by renaming.
#   peer_comments.sh LIST OUT
set -uo pipefail
list=$1 out=$2
export PATH=/usr/bin:/bin LC_ALL=C.UTF-8 PYTHONIOENCODING=utf-8
python=/usr/bin/python3  # with the system's mutagen, whatever python3 comes first

# As the reader prints it, without its warnings (exiftool's of a comment
# after the image data, where ImageMagick too puts it) and the last line
# feed: an MP3's comment
# frames as "description=text", one a line; a FLAC's or a Vorbis stream's
# COMMENT fields as "COMMENT=text" (a line break in a text shows as one).
comment() {
  case $1 in
    *.mp3)
      $python - "$1" <<'PY'
import sys
from mutagen.id3 import ID3
for c in ID3(sys.argv[1]).getall("COMM"):
    print(c.desc, "|".join(c.text), sep="=")
PY
      ;;
    *.flac) metaflac --show-tag=COMMENT "$1" ;;
    *.ogg) vorbiscomment -l "$1" | sed -n '/^COMMENT=/,$p' ;;
    *.opus) $python -c 'import sys, mutagen.oggopus as o; print(*o.OggOpus(sys.argv[1]).get("comment", []))' "$1" ;;
    *.png) exiftool -b -Comment "$1" ;;
    *.wav)  # and an ICMT item, in Shift_JIS, where there is one
      $python - "$1" <<'PY'
import sys
from mutagen.wave import WAVE
for c in WAVE(sys.argv[1]).tags.getall("COMM"):
    print(c.desc, "|".join(c.text), sep="=")
PY
      icmt=$(exiftool -charset Latin -b -RIFF:Comment "$1" | iconv -f CP932 -t UTF-8)
      [ -z "$icmt" ] || echo "ICMT=$icmt" ;;
    *.m4a | *.mp4) $python -c 'import sys, mutagen.mp4 as m; print(*m.MP4(sys.argv[1]).tags["\xa9cmt"], sep="|")' "$1" ;;
    *) echo "(no reader for $1)" ;;
  esac
}

while IFS= read -r f; do
  printf '%s\0' "$(comment "$f" 2>/dev/null)"
done <"$list" >"$out.part"
mv "$out.part" "$out"
