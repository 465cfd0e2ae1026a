#!/usr/bin/env bash
# Fuzzes the run journal's core with libFuzzer, natively with clang, one
# target at a time (the machine is shared). Not part of the tests: run it by
# hand.
#   fuzz/run_journal.sh [seconds per target, default 600] [reader delta]
# Each run starts from fuzz/corpus/journal_<target> (seeded by
# journal_seeds.cpp when empty) and merges what it learned back into it,
# minimised; the native journal tests replay that corpus. Logs and crashes
# go to build-fuzz/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reader delta)
out=$root/build-fuzz
mkdir -p "$out"

journal=$root/app/journal
sources=("$journal/Delta.cpp" "$journal/Journal.cpp" "$journal/JournalFormat.cpp" "$journal/Sha256_openssl.cpp"
         "$root/tests/journal/JournalTestSupport.cpp" "$here/JournalChecks.cpp")
includes=(-I"$journal" -I"$root/tests/journal" -I"$here")
libraries=(-lzstd -lcrypto -lz)

build() {  # build TARGET
  # fuzz_target.cpp calls kes_fuzz::KES_FUZZ_CHECK; the journal's checks
  # are declared in their own header.
  clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DKES_FUZZ_CHECK="CheckJournal${1^}" -include "$here/JournalChecks.h" "${includes[@]}" \
    "$here/fuzz_target.cpp" "${sources[@]}" "${libraries[@]}" -o "$out/fuzz_journal_$1"
}

seed() {
  mkdir -p "$here/corpus/journal_delta" "$here/corpus/journal_reader"
  clang++ -std=c++17 -O1 "${includes[@]}" "$here/journal_seeds.cpp" "${sources[@]}" "${libraries[@]}" \
    -o "$out/journal_seeds"
  "$out/journal_seeds" "$here/corpus/journal_delta" "$here/corpus/journal_reader"
}

source "$here/fuzz_and_merge.sh"
for target in "${targets[@]}"; do
  build "$target"
  [ -n "$(ls -A "$here/corpus/journal_$target" 2>/dev/null)" ] || seed
  fuzz_and_merge "journal_$target" "$here/corpus/journal_$target"
done
