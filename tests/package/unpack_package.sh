#!/usr/bin/env bash
# Makes the release package as ./package.sh does, unpacks it, checks that it
# holds what a user needs and nothing else, and builds the sample plug-in
# from the unpacked sdk folder alone with the command its guide gives, as a
# plug-in author would. test_package then runs the unpacked program.
#   unpack_package.sh BUILD_DIR OUT_DIR VERSION BUNDLED_PLUGIN.cpi...
set -euo pipefail
build=$1 out=$2 version=$3
shift 3
rm -rf "$out"
mkdir -p "$out"
fail() { echo "$*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$out/cpack" >/dev/null
zip="$out/cpack/kes_bat-$version.zip"
[ -f "$zip" ] || fail "no $zip"
outside=$(unzip -Z1 "$zip" | grep -v "^kes_bat-$version/" || true)
[ -z "$outside" ] || fail "entries outside the folder kes_bat-$version/: $outside"
unzip -q "$zip" -d "$out"
pkg="$out/kes_bat-$version"

expected=$(printf '%s\n' kes_bat.exe readme.txt zstd_license.txt openssl_license.txt "$@" sdk/cpi.h sdk/readme.txt sdk/sample.cpp sdk/sample.def | sort)
actual=$(cd "$pkg" && find . -type f | sed 's|^\./||' | sort)
[ "$expected" = "$actual" ] || fail "the package holds:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"

# The texts as a Japanese Windows opens them: Shift_JIS, CR LF throughout.
for text in readme.txt sdk/readme.txt sdk/sample.cpp sdk/sample.def sdk/cpi.h; do
  iconv -f CP932 -t UTF-8 "$pkg/$text" >/dev/null || fail "$text is not Shift_JIS"
  [ "$(grep -c $'\r$' "$pkg/$text")" = "$(wc -l < "$pkg/$text")" ] || fail "$text has a line without CR LF"
done
readme=$(iconv -f CP932 -t UTF-8 "$pkg/readme.txt")
for plugin in "$@"; do
  grep -q "^  $plugin " <<<"$readme" || fail "readme.txt does not list $plugin"
done

# The guide's MinGW-w64 command, run with the posix thread variant of g++.
sdk="$out/sdk_build"
cp -r "$pkg/sdk" "$sdk"
command=$(iconv -f CP932 -t UTF-8 "$sdk/readme.txt" | tr -d '\r' | grep -m1 '^ *i686-w64-mingw32-g++ ') ||
  fail "sdk/readme.txt gives no i686-w64-mingw32-g++ command"
(cd "$sdk" && eval "${command/i686-w64-mingw32-g++ /i686-w64-mingw32-g++-posix }")
cp "$sdk/sample.cpi" "$pkg/"
