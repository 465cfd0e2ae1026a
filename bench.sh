#!/usr/bin/env bash
# Measures what a run of kes_bat.exe costs against the least work the job
# needs (the floor), what its records (the check after each write and the
# journal that undo needs) cost, and how close the usual command-line tools
# stand to the floor of their own platform. Prints tables of medians and
# ratios; asserts no times. Takes 30 to 40 minutes on two cores, as the
# machine allows.
#
#   ./bench.sh            everything
#   BENCH_QUICK=1 ./bench.sh   fewer files and runs, to try the script out
#   BENCH_PARTS="flush plan bundled big" ./bench.sh   only those parts, of
#       tree (1-2), names (2b), bundled (3), peers (4), big (5),
#       flush (6: device flushes per file) and plan (7: the null plug-in
#       that plans)
#   BENCH_KINDS="jpeg zip"   only those of the bundled plug-ins
#   BENCH_PLAN_SIZES="20000 100000"   the file counts of part 7
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# The device flushes are counted from outside the Wine processes.
command -v strace >/dev/null || apt-get install -y -qq --no-install-recommends strace
source scripts/common.sh
kes_build --target kes_bench kes_floor kes_null kes_null_w kes_null_plan kes_bat kes_bat_plain \
  kes_jpeg kes_zip kes_mp3 kes_flac kes_ogg kes_png kes_gif
# A Wine prefix of the benchmark's own: its %LOCALAPPDATA%\Kestrane holds
# the journals of the benchmark's runs and nothing else, so that kes_bench
# can delete them before each run and measure what the run left.
export WINEPREFIX=$KES_BUILD/wineprefix-bench
kes_prefix
trap kes_stop EXIT
kes_display

BENCH=$KES_BUILD/bench
DATA=$BENCH/data
WORK=$BENCH/work
mkdir -p "$DATA" "$WORK"
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
COMMENT="Kestrane benchmark comment"

# The same floor, natively: the peers are held against this one.
g++ -O2 -std=c++17 -o "$BENCH/kes_floor_native" bench/Floor.cpp bench/floor_main.cpp

if [ -n "${BENCH_QUICK:-}" ]; then
  SIZES=(200 2000 4000); RUNS=(3 3 3); NAMES_RUNS=2; REAL=100; PEER_RUNS=3; OTHER_RUNS=2; BIG_MB=64; BIG_RUNS=1
else
  # Fewer runs at the largest size, and no warm-up run there, keep the
  # whole bench within about 20 minutes.
  # Of the bundled plug-ins, JPEG and MP3 (the goals of the records) and
  # the peers get five runs, the other types three.
  SIZES=(2000 20000 100000); RUNS=(7 5 3); NAMES_RUNS=3; REAL=1000; PEER_RUNS=5; OTHER_RUNS=3
  BIG_MB=1536; BIG_RUNS=3
fi
PARTS=" ${BENCH_PARTS:-tree names bundled peers big flush plan} "
part() { [[ $PARTS == *" $1 "* ]]; }
PLAN_SIZES=(${BENCH_PLAN_SIZES:-20000 100000})

median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
fail() { echo "bench: $*" >&2; exit 1; }

# Runs kes_bench and keeps its "key value" lines in the array named by $1.
run_tool() {
  local -n out=$1
  shift
  local log=$BENCH/last_run.txt
  # Wine writes the console text with CR LF line ends.
  wine "$BENCH/kes_bench.exe" "$@" | tr -d '\r' > "$log" || { cat "$log"; fail "kes_bench failed"; }
  grep '^run ' "$log" | sed 's/^/    /' >&2
  out=()
  while read -r key value; do out[$key]=$value; done < <(grep -v '^run ' "$log")
}
winpath() { winepath -w "$1"; }

# ---- 1 and 2: the tool's own work, at three sizes --------------------------
# The null plug-in with the original exports only: the tool hands it code
# page names, as it handed every plug-in before it took names of any
# character. kes_bat_plain.exe takes its turn too.
declare -A S_FILES S_FLOOR S_TOOL S_COLLECT S_WRITE S_RATIO S_PEAK S_IDLE S_PATHLEN S_PLAIN
part tree && echo "== the tool against the floor that opens and reads every file (null plug-in)" >&2
for i in "${!SIZES[@]}"; do
  part tree || break
  n=${SIZES[$i]}
  python3 bench/make_data.py tree "$DATA/tree$n" "$n"
  echo "-- $n files, ${RUNS[$i]} runs" >&2
  declare -A r
  warm=; [ "$i" -eq 2 ] && warm=nowarmup
  run_tool r "$(winpath "$BENCH/kes_null.cpi")" "$(winpath "$DATA/tree$n")" '*.dat' read "${RUNS[$i]}" "$COMMENT" \
    plain $warm
  [ "${r[files]}" = "$n" ] || fail "$n files made, ${r[files]} found"
  S_FLOOR[$n]=${r[floor_ms]}; S_TOOL[$n]=${r[tool_ms]}; S_COLLECT[$n]=${r[collect_ms]}; S_PLAIN[$n]=${r[plain_ms]}
  S_WRITE[$n]=${r[write_ms]}; S_RATIO[$n]=${r[ratio]}; S_PEAK[$n]=${r[peak_bytes]}; S_IDLE[$n]=${r[peak_idle_bytes]}
  # The paths as the tool queues them, in UTF-16 with a NUL: the tree's
  # names are ASCII, of which the floor counted a byte a character.
  S_PATHLEN[$n]=$(( 2 * r[path_bytes] / n ))
  unset r
done

# ---- 2b: names of any character, and the preview -----------------------------
# The null plug-in with WriteCommentW, which the tool hands every name, and
# ReadCommentW, which answers "no comment" without a look at the file:
# over the tree of code page names, against the same floor as above, and
# over the tree of names the code page lacks, against the floor through the
# UTF-16 calls. The preview reads every file through ReadCommentW.
mid=${SIZES[1]}
declare -A W_FLOOR W_TOOL W_COLLECT W_PLAIN W_PREVIEW
if part names; then
echo "== names of any character: $mid files, null plug-in with WriteCommentW" >&2
python3 bench/make_data.py names "$DATA/names$mid" "$mid"
python3 bench/make_data.py tree "$DATA/tree$mid" "$mid"
for tree in tree names; do
  job=read; [ "$tree" = names ] && job=read-wide
  echo "-- $tree$mid, $NAMES_RUNS runs" >&2
  declare -A r
  run_tool r "$(winpath "$BENCH/kes_null_w.cpi")" "$(winpath "$DATA/$tree$mid")" '*.dat' $job "$NAMES_RUNS" \
    "$COMMENT" plain preview
  [ "${r[files]}" = "$mid" ] || fail "$mid files made, ${r[files]} found"
  W_FLOOR[$tree]=${r[floor_ms]}; W_TOOL[$tree]=${r[tool_ms]}; W_COLLECT[$tree]=${r[collect_ms]}
  W_PLAIN[$tree]=${r[plain_ms]}; W_PREVIEW[$tree]=${r[preview_ms]}
  unset r
done
fi

# Where the rest of a run's time goes: the steps it takes for every file
# besides reading it, timed apart.
declare -A STEP
if part tree; then
  while read -r _ name value; do STEP[$name]=$value; done < <(wine "$BENCH/kes_bench.exe" steps 2000 | tr -d '\r' | grep '^step_us ')
  [ -n "${STEP[journal_flush]:-}" ] || fail "the steps were not measured"
fi

# ---- 3: the bundled plug-ins against a floor that rewrites ----------------
samples=$DATA/samples
if [ ! -f "$samples/.made" ]; then
  rm -rf "$samples"; mkdir -p "$samples/zipsrc"
  for s in $(seq 0 9); do
    /usr/bin/convert -seed "$s" -size 640x480 plasma:fractal -quality 85 "$samples/photo$s.jpg"
    head -c $((2000 + s * 700)) /usr/share/common-licenses/GPL-3 > "$samples/zipsrc/text$s.txt"
    cp "$samples/photo$s.jpg" "$samples/zipsrc/"
    (cd "$samples/zipsrc" && zip -q -9 "../archive$s.zip" "text$s.txt" "photo$s.jpg")
  done
  touch "$samples/.made"
fi
# The same pictures as PNG and GIF.
if [ ! -f "$samples/.made-pictures" ]; then
  for s in $(seq 0 9); do
    for ext in png gif; do /usr/bin/convert "$samples/photo$s.jpg" "$samples/picture$s.$ext"; done
  done
  touch "$samples/.made-pictures"
fi
# Music: ten pieces of about 20 seconds, each a chord of its own, encoded by
# the formats' own encoders with a title as taggers leave it.
if [ ! -f "$samples/.made-music" ]; then
  for s in $(seq 0 9); do
    ffmpeg -v error -f lavfi -i "sine=frequency=$((220 + 30 * s)):duration=20" -f lavfi \
      -i "sine=frequency=$((330 + 40 * s)):duration=20" -filter_complex amix=inputs=2 -ac 2 -ar 44100 \
      -y "$samples/tune$s.wav"
    ffmpeg -v error -i "$samples/tune$s.wav" -c:a libmp3lame -b:a 128k -metadata title="Tune $s" -y "$samples/tune$s.mp3"
    flac -s -f -T "TITLE=Tune $s" -o "$samples/tune$s.flac" "$samples/tune$s.wav"
    oggenc -Q -q 3 -c "TITLE=Tune $s" -o "$samples/tune$s.ogg" "$samples/tune$s.wav"
    rm "$samples/tune$s.wav"
  done
  touch "$samples/.made-music"
fi
KINDS=(${BENCH_KINDS:-jpeg zip mp3 flac ogg png gif})
python3 bench/make_data.py copies "$DATA/jpeg$REAL" "$REAL" "$samples"/photo*.jpg
python3 bench/make_data.py copies "$DATA/zip$REAL" "$REAL" "$samples"/archive*.zip
for kind in png gif; do python3 bench/make_data.py copies "$DATA/$kind$REAL" "$REAL" "$samples"/picture*."$kind"; done
for kind in mp3 flac ogg; do python3 bench/make_data.py copies "$DATA/$kind$REAL" "$REAL" "$samples"/tune*."$kind"; done

# A fresh copy of the pristine files for each tool, made outside the timing.
fresh() { rm -rf "$WORK/$2"; cp -a "$DATA/$1" "$WORK/$2"; rm -f "$WORK/$2/.made"; }

# Each file's comment, as the format's own reader sees it, must be exactly
# the one written.
ext_of() { if [ "$1" = jpeg ]; then echo jpg; else echo "$1"; fi; }
jpeg_comment() { rdjpgcom "$1"; }
zip_comment() { unzip -z "$1" | tail -n +2; }
# count_wrong DIR EXT READER: files *.EXT below DIR whose comment, as READER
# prints it, is not COMMENT.
count_wrong() {
  local bad=0 f
  while IFS= read -r -d '' f; do
    [ "$("$3" "$f")" = "$COMMENT" ] || bad=$((bad + 1))
  done < <(find "$1" -name "*.$2" -print0)
  echo $bad
}
# check_exiftool DIR EXT: files *.EXT below DIR whose comment, as exiftool
# reads it, is not COMMENT; one process for all of them.
check_exiftool() {
  local good
  good=$(exiftool -q -r -s3 -Comment -ext "$2" "$1" | grep -cxF "$COMMENT" || true)
  echo $(( REAL - good ))
}

# The journal of a run, per file written, against what it may take: the old
# comment's bytes (the plug-in alone's comment, which each run of the tool
# writes over), plus 256, plus 100 for each MB of the file.
DIRECT_COMMENT="$COMMENT (direct)"
budget() {
  awk -v c="${#DIRECT_COMMENT}" -v b="$1" -v n="$2" 'BEGIN {printf "%.0f", c + 256 + 100 * b / n / 1e6}'
}

# The floor: read, temporary file, ReplaceFileA, no flush: the least that
# rewrites a file whole. The tool's flushes, one for a group of files, are
# part of what it adds.
declare -A P_RUNS P_FLOOR P_TOOL P_RATIO P_BAD P_ALONE P_PLAIN P_UNDO P_UNDO_READ P_JOURNAL P_BYTES
if part bundled; then
echo "== the bundled plug-ins against the lean floor that rewrites every file" >&2
for kind in "${KINDS[@]}"; do
  P_RUNS[$kind]=$OTHER_RUNS; case $kind in jpeg | mp3) P_RUNS[$kind]=$PEER_RUNS ;; esac
  fresh "$kind$REAL" "tool_$kind"
  echo "-- $REAL ${kind^^} files, ${P_RUNS[$kind]} runs" >&2
  declare -A r
  run_tool r "$(winpath "$KES_BUILD/bin/kes_$kind.cpi")" "$(winpath "$WORK/tool_$kind")" "*.$(ext_of $kind)" \
    rewrite-noflush "${P_RUNS[$kind]}" "$COMMENT" plain
  [ "${r[files]}" = "$REAL" ] || fail "$REAL files made, ${r[files]} found"
  P_FLOOR[$kind]=${r[floor_ms]}; P_TOOL[$kind]=${r[tool_ms]}; P_RATIO[$kind]=${r[ratio]}; P_ALONE[$kind]=${r[plugin_alone_ms]}
  P_PLAIN[$kind]=${r[plain_ms]}; P_UNDO[$kind]=${r[undo_ms]}; P_UNDO_READ[$kind]=${r[undo_read_ms]}
  P_JOURNAL[$kind]=${r[journal_bytes]}; P_BYTES[$kind]=${r[file_bytes]}
  case $kind in
    jpeg | zip) P_BAD[$kind]=$(count_wrong "$WORK/tool_$kind" "$(ext_of $kind)" "${kind}_comment") ;;
    png | gif) P_BAD[$kind]=$(check_exiftool "$WORK/tool_$kind" "$kind") ;;
    *) P_BAD[$kind]=$(/usr/bin/python3 bench/music_comments.py "$WORK/tool_$kind" "$kind" "$COMMENT") ;;
  esac
  unset r
done

# Ogg files whose pages the write renumbers: the tool writes a comment too
# long for the header page that held the old one, so that every page after
# it moves up by one, and its number and checksum change.
LONG_TIMES=2700
LONG_COMMENT=$(python3 -c 'import sys; print(" ".join([sys.argv[1]] * int(sys.argv[2])))' "$COMMENT" $LONG_TIMES)
ogg_pages() {
  python3 -c '
import sys
data = open(sys.argv[1], "rb").read()
at = pages = 0
while at < len(data):
    segments = data[at + 26]
    at += 27 + segments + sum(data[at + 27:at + 27 + segments])
    pages += 1
print(pages)' "$1"
}
echo "-- $REAL OGG files, a comment of ${#LONG_COMMENT} characters, 1 run" >&2
fresh "ogg$REAL" ogg_long
declare -A L
run_tool L "$(winpath "$KES_BUILD/bin/kes_ogg.cpi")" "$(winpath "$WORK/ogg_long")" '*.ogg' rewrite-noflush 1 "$COMMENT" \
  nowarmup "long=$LONG_TIMES"
[ "${L[files]}" = "$REAL" ] || fail "$REAL files made, ${L[files]} found"
L_BAD=$(/usr/bin/python3 bench/music_comments.py "$WORK/ogg_long" ogg "$LONG_COMMENT")
L_PAGES_BEFORE=$(ogg_pages "$samples/tune0.ogg")
L_PAGES_AFTER=$(ogg_pages "$WORK/ogg_long/s0/item00000.ogg")
[ "$L_PAGES_AFTER" -gt "$L_PAGES_BEFORE" ] || fail "the long comment left the Ogg pages as they were"
fi

# ---- 4: the peers against the native floor ----------------------------------
BAD_EXIF=0; BAD_JHEAD=0; BAD_ZIP=0; BIG_BAD=0; L_BAD=0
declare -A T M
if part peers; then
echo "== peers natively, against the same floor compiled natively" >&2
for d in floor_jpeg floor_jpeg_nf exiftool jhead; do fresh "jpeg$REAL" "$d"; done
for d in floor_zip floor_zip_nf zip; do fresh "zip$REAL" "$d"; done
floor_native() { "$BENCH/kes_floor_native" "$1" "$WORK/$2" "$3" 1 >/dev/null || fail "native floor failed on $2"; }
job() {
  case $1 in
    floor_jpeg) floor_native rewrite floor_jpeg '*.jpg' ;;
    floor_jpeg_nf) floor_native rewrite-noflush floor_jpeg_nf '*.jpg' ;;
    exiftool) exiftool -q -r -overwrite_original -ext jpg -Comment="$C" "$WORK/exiftool" ;;
    jhead) jhead -cl "$C" "$WORK"/jhead/*/*.jpg > /dev/null ;;
    floor_zip) floor_native rewrite floor_zip '*.zip' ;;
    floor_zip_nf) floor_native rewrite-noflush floor_zip_nf '*.zip' ;;
    zip) for f in "$WORK"/zip/*/*.zip; do printf '%s\n' "$C" | zip -q -z "$f"; done ;;
  esac
}
JOBS=(floor_jpeg floor_jpeg_nf exiftool jhead floor_zip floor_zip_nf zip)
# Round 0 warms the caches and is not counted; the jobs take turns so that
# a slow spell of the machine falls on all of them.
for round in $(seq 0 "$PEER_RUNS"); do
  for j in "${JOBS[@]}"; do
    # Both peers leave a file alone that already holds the comment: each
    # round writes another one, and the last writes $COMMENT itself.
    if [ $(( (PEER_RUNS - round) % 2 )) -eq 0 ]; then C=$COMMENT; else C="$COMMENT (before)"; fi
    t0=$(now_ms); job "$j"; t1=$(now_ms)
    [ "$round" -gt 0 ] && T[$j]+="$((t1 - t0)) "
  done
  echo "    round $round done" >&2
done
for j in "${JOBS[@]}"; do M[$j]=$(tr ' ' '\n' <<<"${T[$j]}" | grep . | median); done
BAD_EXIF=$(check_exiftool "$WORK/exiftool" jpg)
BAD_JHEAD=$(count_wrong "$WORK/jhead" jpg jpeg_comment)
BAD_ZIP=$(count_wrong "$WORK/zip" zip zip_comment)
fi

# ---- 5: one big archive -----------------------------------------------------
# Rewritten in place by every run, each with a comment of its own: making it
# again for each invocation would cost as much as the runs.
declare -A B
if part big; then
echo "== one stored archive of $BIG_MB MiB against the lean rewriting floor" >&2
python3 bench/make_data.py bigzip "$DATA/big$BIG_MB" "$BIG_MB"
run_tool B "$(winpath "$KES_BUILD/bin/kes_zip.cpi")" "$(winpath "$DATA/big$BIG_MB")" '*.zip' rewrite-noflush "$BIG_RUNS" \
  "$COMMENT" plain
[ "${B[files]}" = 1 ] || fail "the big archive was not found"
BIG_BYTES=$(stat -c %s "$DATA/big$BIG_MB/big.zip")
BIG_BAD=$(count_wrong "$DATA/big$BIG_MB" zip zip_comment)
B_UNDO_RUNS=${B[undo_runs]:-0}
fi

# ---- 6: device flushes per file written -------------------------------------
# Counted from outside: strace over every Wine process of one run of the
# tool over fresh JPEGs, the Wine server included (started anew under
# strace), since Wine turns each flush of a file into an fsync; the tool's
# flush of a whole volume under Wine is a syncfs, counted beside them. The
# run beside the tool's is the floor's that only reads: it flushes nothing.
declare -A F
if part flush; then
echo "== device flushes: one run of $REAL JPEGs under strace" >&2
fresh "jpeg$REAL" flush_jpeg
plugin_path=$(winpath "$KES_BUILD/bin/kes_jpeg.cpi"); folder_path=$(winpath "$WORK/flush_jpeg")
wineserver -k || true
wineserver -w
strace -f -c -e trace=fsync,fdatasync,syncfs,sync_file_range -o "$BENCH/flushes.txt" \
  wine "$BENCH/kes_bench.exe" "$plugin_path" "$folder_path" '*.jpg' read 1 "$COMMENT" nowarmup |
  tr -d '\r' > "$BENCH/flush_run.txt" || { cat "$BENCH/flush_run.txt"; fail "kes_bench failed under strace"; }
while read -r key value; do F[$key]=$value; done < <(grep -v '^run ' "$BENCH/flush_run.txt")
[ "${F[files]}" = "$REAL" ] || fail "$REAL files made, ${F[files]} found"
# strace -c: calls in the fourth column, the call's name in the last.
FSYNC=$(awk '$NF == "fsync" {print $4}' "$BENCH/flushes.txt"); FSYNC=${FSYNC:-0}
FDATASYNC=$(awk '$NF == "fdatasync" {print $4}' "$BENCH/flushes.txt"); FDATASYNC=${FDATASYNC:-0}
SYNCFS=$(awk '$NF == "syncfs" {print $4}' "$BENCH/flushes.txt"); SYNCFS=${SYNCFS:-0}
F_WRONG=$(count_wrong "$WORK/flush_jpeg" jpg jpeg_comment)
[ "$F_WRONG" -eq 0 ] || fail "$F_WRONG files lack the comment after the run under strace"
fi

# ---- 7: the null plug-in that plans -------------------------------------------
# Its plan says every file stays as it is: the tool reads, plans and checks
# each, and writes none. Against the floor that walks and reads.
declare -A N_FLOOR N_TOOL N_RUNS
if part plan; then
for n in "${PLAN_SIZES[@]}"; do
  python3 bench/make_data.py tree "$DATA/tree$n" "$n"
  N_RUNS[$n]=3; warm=
  # The largest takes one run, without a warm-up.
  [ "$n" -ge 100000 ] && { N_RUNS[$n]=1; warm=nowarmup; }
  echo "== the null plug-in that plans: $n files, ${N_RUNS[$n]} runs" >&2
  declare -A r
  run_tool r "$(winpath "$BENCH/kes_null_plan.cpi")" "$(winpath "$DATA/tree$n")" '*.dat' read "${N_RUNS[$n]}" \
    "$COMMENT" $warm
  [ "${r[files]}" = "$n" ] || fail "$n files made, ${r[files]} found"
  N_FLOOR[$n]=${r[floor_ms]}; N_TOOL[$n]=${r[tool_ms]}
  unset r
done
fi

# ---- The table --------------------------------------------------------------
big=${SIZES[2]}; small=${SIZES[0]}
per_file() { awk -v t="$1" -v n="$2" 'BEGIN {printf "%.1f", 1000 * t / n}'; }
mb() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }
per_n() { awk -v b="$1" -v n="$2" 'BEGIN {printf "%.0f", b / n}'; }
if part tree; then
scale=$(awk -v a="${S_TOOL[$big]}" -v na="$big" -v b="${S_TOOL[$small]}" -v nb="$small" \
  'BEGIN {printf "%.2f", (a / na) / (b / nb)}')
floor_scale=$(awk -v a="${S_FLOOR[$big]}" -v na="$big" -v b="${S_FLOOR[$small]}" -v nb="$small" \
  'BEGIN {printf "%.2f", (a / na) / (b / nb)}')
# Memory: what the run added to the working set beyond the paths it queued.
per_path=$(awk -v p="${S_PEAK[$big]}" -v i="${S_IDLE[$big]}" -v n="$big" -v l="${S_PATHLEN[$big]}" \
  'BEGIN {printf "%.0f", (p - i) / n - l}')
fi

{
echo
echo "Kestrane benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(wine --version)"
echo "Load average (1, 5, 15 min) at the start: $LOAD_START; at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Medians; each ratio within this invocation. Times in ms, per file in µs."
echo "'Without records': kes_bat_plain.exe, the same program without the read-back, check and journal."
if part tree; then
echo
echo "1-2. Tool (null plug-in, the original exports: code page names) against the floor (find, open, read, close) under Wine"
echo
echo "| files | runs | floor | tool | collect | write | ratio (goal ≤ 1.5) | tool per file | without records | without records / floor | peak working set |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for i in "${!SIZES[@]}"; do
  n=${SIZES[$i]}
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s MB (idle %s MB) |\n' "$n" \
    "${RUNS[$i]}$([ "$i" -eq 2 ] && echo ' (no warm-up)')" \
    "${S_FLOOR[$n]}" "${S_TOOL[$n]}" "${S_COLLECT[$n]}" "${S_WRITE[$n]}" "$(ratio "${S_TOOL[$n]}" "${S_FLOOR[$n]}")" \
    "$(per_file "${S_TOOL[$n]}" "$n")" "${S_PLAIN[$n]}" "$(ratio "${S_PLAIN[$n]}" "${S_FLOOR[$n]}")" \
    "$(mb "${S_PEAK[$n]}")" "$(mb "${S_IDLE[$n]}")"
done
echo
echo "Scaling: tool time per file at $big over that at $small: $scale (goal ≤ 1.2); the floor's: $floor_scale;"
echo "the tool's over the floor's: $(ratio "$scale" "$floor_scale"); tool time per file at $big over that at $mid: $(awk -v a="${S_TOOL[$big]}" -v na="$big" -v b="${S_TOOL[$mid]}" -v nb="$mid" 'BEGIN {printf "%.2f", (a / na) / (b / nb)}')"
echo "Memory: at $big files the run adds $per_path bytes per queued path beyond the path's own ${S_PATHLEN[$big]} bytes in UTF-16 (goal ≤ ~100)"
echo
echo "Per file, in µs: floor (open, read, close) $(per_file "${S_FLOOR[$mid]}" "$mid"), tool's write phase $(per_file "${S_WRITE[$mid]}" "$mid") (at $mid files);"
echo "the tool's steps besides the file, each timed apart: dispatch of pending messages ${STEP[dispatch]}, Escape poll ${STEP[escape_poll]},"
echo "reading the comment field ${STEP[read_comment]} (through the common controls' subclass chain, as before its mend: ${STEP[read_comment_subclassed]}),"
echo "redrawing the counter and the bar ${STEP[redraw_counter]}, now done at most every 50 ms; the preview's list, told its"
echo "new number of rows and redrawn, as the preview does at most every 500 ms while its counter and bar follow every 50 ms, ${STEP[redraw_preview_list]}."
echo "The bundled plug-ins' step besides the floor's rewrite: the look at the file just before the replace (opened"
echo "without sharing, for its size, time, links and name) ${STEP[plugin_check_before_replace]}."
echo "The records' steps for a file of 64 KB that a run changed: reading it back ${STEP[read_back]}; its journal record,"
echo "made in memory ${STEP[journal_record]}, of which the two SHA-256 hashes (old contents, new file) ${STEP[record_hashes]};"
echo "a small write to the journal made durable ${STEP[journal_flush]}."
fi
if part names; then
echo
echo "2b. Names of any character: $mid files, $NAMES_RUNS runs, null plug-in with WriteCommentW (every name) and ReadCommentW (no comment, no parse)"
echo
echo "| names | floor | tool | collect | tool / floor | tool per file | without records | without records / floor | preview | preview / floor (goal ≤ 1.3) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for tree in tree names; do
  case $tree in
    tree) label="code page 932 (floor: ANSI calls)" ;;
    names) label="é ♡ 한 〜 𝄞, files and folders (floor: UTF-16 calls)" ;;
  esac
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$label" "${W_FLOOR[$tree]}" "${W_TOOL[$tree]}" \
    "${W_COLLECT[$tree]}" "$(ratio "${W_TOOL[$tree]}" "${W_FLOOR[$tree]}")" "$(per_file "${W_TOOL[$tree]}" "$mid")" \
    "${W_PLAIN[$tree]}" "$(ratio "${W_PLAIN[$tree]}" "${W_FLOOR[$tree]}")" "${W_PREVIEW[$tree]}" \
    "$(ratio "${W_PREVIEW[$tree]}" "${W_FLOOR[$tree]}")"
done
fi
if part bundled; then
echo
echo "3. Bundled plug-ins against the lean floor that reads and rewrites every file (temporary file, ReplaceFileA, no flush) under Wine"
echo
echo "The plug-in alone: loaded by the benchmark and called for each file as the floor reads it, without the tool."
echo
echo "| files | runs | floor | plug-in alone | tool | ratio (goal ≤ 1.3) | plug-in alone / floor | tool / plug-in alone | files without the comment afterwards |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for kind in "${KINDS[@]}"; do
  printf '| %s %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$REAL" "${kind^^}" "${P_RUNS[$kind]}" "${P_FLOOR[$kind]}" "${P_ALONE[$kind]}" \
    "${P_TOOL[$kind]}" "$(ratio "${P_TOOL[$kind]}" "${P_FLOOR[$kind]}")" \
    "$(ratio "${P_ALONE[$kind]}" "${P_FLOOR[$kind]}")" "$(ratio "${P_TOOL[$kind]}" "${P_ALONE[$kind]}")" "${P_BAD[$kind]}"
done
echo
echo "3b. What the records cost: the same runs with and without them, the undo of each run (ファイル → 元に戻す),"
echo "and the journal each run left, per file written, against its budget (the old comment's ${#DIRECT_COMMENT} bytes + 256 + 100 per MB);"
echo "the undo's median leaves out the last run, which is not taken back"
echo
echo "| files | tool | without records | tool / without (goal ≤ 1.15) | undo | of which reading the journal | undo / tool (goal ≤ 1.0) | mean file size | journal per file | budget |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for kind in "${KINDS[@]}"; do
  printf '| %s %s | %s | %s | %s | %s | %s | %s | %s KB | %s | %s |\n' "$REAL" "${kind^^}" "${P_TOOL[$kind]}" \
    "${P_PLAIN[$kind]}" "$(ratio "${P_TOOL[$kind]}" "${P_PLAIN[$kind]}")" "${P_UNDO[$kind]}" "${P_UNDO_READ[$kind]}" \
    "$(ratio "${P_UNDO[$kind]}" "${P_TOOL[$kind]}")" "$(per_n "${P_BYTES[$kind]}" $((REAL * 1000)))" \
    "$(per_n "${P_JOURNAL[$kind]}" "$REAL")" "$(budget "${P_BYTES[$kind]}" "$REAL")"
done
echo
echo "Ogg with every page renumbered (a comment of ${#LONG_COMMENT} characters over one of ${#DIRECT_COMMENT}: $L_PAGES_BEFORE pages became $L_PAGES_AFTER):"
echo "journal $(per_n "${L[journal_bytes]}" "$REAL") bytes per file, budget 1 % of the file: $(per_n "${L[file_bytes]}" $((REAL * 100))) bytes;"
echo "files without the comment afterwards: $L_BAD"
fi
if part peers; then
echo
echo "4. Each against the floor of its own platform (native floor: the same source built with g++; 'no flush' skips the fsync that ours does)"
echo
echo "| job | time | ratio to floor | ratio to floor without flush | files without the comment afterwards |"
echo "|---|---:|---:|---:|---:|"
printf '| native floor, JPEG | %s | 1.00 | %s | |\n' "${M[floor_jpeg]}" "$(ratio "${M[floor_jpeg]}" "${M[floor_jpeg_nf]}")"
printf '| exiftool -overwrite_original -Comment=… | %s | %s | %s | %s |\n' "${M[exiftool]}" \
  "$(ratio "${M[exiftool]}" "${M[floor_jpeg]}")" "$(ratio "${M[exiftool]}" "${M[floor_jpeg_nf]}")" "$BAD_EXIF"
printf '| jhead -cl | %s | %s | %s | %s |\n' "${M[jhead]}" \
  "$(ratio "${M[jhead]}" "${M[floor_jpeg]}")" "$(ratio "${M[jhead]}" "${M[floor_jpeg_nf]}")" "$BAD_JHEAD"
# The tool's own row, where the bundled part measured it.
if [ -n "${P_TOOL[jpeg]:-}" ]; then
  printf '| kes_bat.exe + kes_jpeg.cpi (under Wine, against the Wine floor) | %s | %s | | %s |\n' "${P_TOOL[jpeg]}" \
    "$(ratio "${P_TOOL[jpeg]}" "${P_FLOOR[jpeg]}")" "${P_BAD[jpeg]}"
fi
printf '| native floor, ZIP | %s | 1.00 | %s | |\n' "${M[floor_zip]}" "$(ratio "${M[floor_zip]}" "${M[floor_zip_nf]}")"
printf '| zip -z, one call per file | %s | %s | %s | %s |\n' "${M[zip]}" \
  "$(ratio "${M[zip]}" "${M[floor_zip]}")" "$(ratio "${M[zip]}" "${M[floor_zip_nf]}")" "$BAD_ZIP"
if [ -n "${P_TOOL[zip]:-}" ]; then
  printf '| kes_bat.exe + kes_zip.cpi (under Wine, against the Wine floor) | %s | %s | | %s |\n' "${P_TOOL[zip]}" \
    "$(ratio "${P_TOOL[zip]}" "${P_FLOOR[zip]}")" "${P_BAD[zip]}"
fi
fi
if part big; then
echo
echo "5. One stored ZIP archive of $(awk -v b="$BIG_BYTES" 'BEGIN {printf "%.2f GB", b / 1e9}') through kes_bat.exe + kes_zip.cpi under Wine, $BIG_RUNS runs, against the lean rewriting floor"
echo
echo "| floor | plug-in alone | tool | tool / floor (goal ≤ 1.3) | without records | tool / without | undo ($B_UNDO_RUNS) | peak working set | peak / file size (goal ≤ 1.15) | journal | budget | without the comment afterwards |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
printf '| %s | %s | %s | %s | %s | %s | %s | %.0f MB | %s | %s | %s | %s |\n' "${B[floor_ms]}" "${B[plugin_alone_ms]}" \
  "${B[tool_ms]}" "$(ratio "${B[tool_ms]}" "${B[floor_ms]}")" "${B[plain_ms]}" "$(ratio "${B[tool_ms]}" "${B[plain_ms]}")" \
  "${B[undo_ms]:-none}" "$(awk -v b="${B[peak_bytes]}" 'BEGIN {print b / 1e6}')" \
  "$(ratio "${B[peak_bytes]}" "$BIG_BYTES")" "${B[journal_bytes]}" "$(budget "$BIG_BYTES" 1)" "$BIG_BAD"
fi
if part flush; then
echo
echo "6. Device flushes of one run of kes_bat.exe + kes_jpeg.cpi over $REAL JPEGs, counted by strace -f over every Wine process"
echo
echo "| files written | fsync | fdatasync | syncfs (a whole volume) | flushes per file written (goal ≤ 0.05) |"
echo "|---:|---:|---:|---:|---:|"
printf '| %s | %s | %s | %s | %s |\n' "$REAL" "$FSYNC" "$FDATASYNC" "$SYNCFS" \
  "$(awk -v f=$((FSYNC + FDATASYNC + SYNCFS)) -v n="$REAL" 'BEGIN {printf "%.3f", f / n}')"
fi
if part plan; then
echo
echo "7. Null plug-in that plans (its plan: no change) against the floor (find, open, read, close) under Wine"
echo
echo "| files | runs | floor | tool | ratio (goal ≤ 1.5) | tool per file |"
echo "|---:|---:|---:|---:|---:|---:|"
for n in "${PLAN_SIZES[@]}"; do
  printf '| %s | %s | %s | %s | %s | %s |\n' "$n" "${N_RUNS[$n]}" "${N_FLOOR[$n]}" "${N_TOOL[$n]}" \
    "$(ratio "${N_TOOL[$n]}" "${N_FLOOR[$n]}")" "$(per_file "${N_TOOL[$n]}" "$n")"
done
fi
} | tee "$BENCH/results.md"

bad_total=$(( BAD_EXIF + BAD_JHEAD + BAD_ZIP + BIG_BAD + L_BAD ))
for kind in "${!P_BAD[@]}"; do bad_total=$(( bad_total + P_BAD[$kind] )); done
if [ "$bad_total" -ne 0 ]; then fail "$bad_total files lack the comment after their run (see the table)"; fi
