# Sourced by the fuzzing scripts: one fuzzer's run, from its corpus and back
# into it, minimised. Needs $out (build-fuzz) and $seconds.
#   fuzz_and_merge NAME CORPUS   (the fuzzer is $out/fuzz_NAME)
fuzz_and_merge() {
  local name=$1 corpus=$2
  local work=$out/work_$name merged=$out/merged_$name
  mkdir -p "$work"
  (cd "$out" && ./"fuzz_$name" -max_total_time="$seconds" -timeout=10 -max_len=8192 \
     -print_final_stats=1 "$work" "$corpus") 2>&1 | grep -v "# Uses:" | tail -n 40 >"$out/fuzz_$name.log"
  rm -rf "$merged" && mkdir -p "$merged"
  (cd "$out" && ./"fuzz_$name" -merge=1 "$merged" "$corpus" "$work") >/dev/null 2>&1
  rm -f "$corpus"/* && cp "$merged"/* "$corpus/"
  grep -E 'cov:|stat::|SUMMARY|ERROR' "$out/fuzz_$name.log" | tail -n 8
}
