#!/usr/bin/env bash
# Fuzzes the format cores with libFuzzer, natively with clang, one core at a
# time (the machine is shared). Not part of the tests: run it by hand.
#   fuzz/run.sh [seconds per core, default 600] [zip jpeg png gif mp3 flac ogg wav m4a]
# Each run starts from fuzz/corpus/<format> and seeds from the sample files
# the real tools and the test scripts make, so that a new shape of file
# reaches the fuzzer, and merges what it learned back into the corpus,
# minimised (seeds that add nothing are dropped); the tests replay that
# corpus. Logs and crashes go to build-fuzz/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-600}
shift || true
formats=("$@")
[ ${#formats[@]} -gt 0 ] || formats=(zip jpeg png gif mp3 flac ogg wav m4a)
out=$root/build-fuzz
mkdir -p "$out"

build() {  # build FORMAT
  local check="Check${1^}"
  clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DKES_FUZZ_CHECK="$check" -I"$root/plugins/core" -I"$here" \
    "$here/fuzz_target.cpp" "$here/FuzzChecks.cpp" "$root"/plugins/core/*.cpp -lz -o "$out/fuzz_$1"
}

# One seed: a comment (length, repeat count 0, bytes) and then the file.
seed_with() {  # seed_with OUT COMMENT FILE
  printf "\\x$(printf %02x ${#2})\\x00\\x00%s" "$2" >"$1"
  cat "$3" >>"$1"
}

seed() {  # seed FORMAT: small real files, each with a few comments
  local dir=$here/corpus/$1 tmp
  tmp=$(mktemp -d)
  "$root/tests/formats/make_samples.sh" "$tmp" >/dev/null
  (cd "$tmp/members" && printf 'tiny' >t.txt && zip -q -X -0 ../tiny_stored.zip t.txt &&
     zip -q -X -9 ../tiny_deflated.zip a.txt && zip -q -X -fz ../tiny_zip64.zip t.txt &&
     echo note | zip -q -X -z ../tiny_commented.zip t.txt && head -c -3 ../tiny_commented.zip >../tiny_cut.zip)
  local files
  case $1 in
    zip) files=("$tmp"/tiny_*.zip) ;;
    jpeg) files=("$tmp"/*.jpg) ;;
    png) files=("$tmp"/*.png) ;;
    gif) files=("$tmp"/*.gif) ;;
    mp3) files=("$tmp"/*.mp3) ;;
    flac) files=("$tmp"/*.flac) ;;
    ogg) files=("$tmp"/*.ogg "$tmp"/*.opus) ;;
    wav) files=("$tmp"/{plain,commented,broadcast,odd,nopad,tagged,rf64}.wav) ;;  # not the long tones
    m4a) files=("$tmp"/*.m4a "$tmp"/*.mp4) ;;
  esac
  mkdir -p "$dir"
  local f
  for f in "${files[@]}"; do
    seed_with "$dir/$(basename "$f").empty" "" "$f"
    seed_with "$dir/$(basename "$f").text" $'line one\r\nline two' "$f"
  done
  rm -rf "$tmp"
}

source "$here/fuzz_and_merge.sh"
for format in "${formats[@]}"; do
  build "$format"
  seed "$format"
  fuzz_and_merge "$format" "$here/corpus/$format"
done
