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

expected=$(printf '%s\n' kes_bat.exe readme.txt zstd_license.txt openssl_license.txt SHA256SUMS.txt "$@" sdk/cpi.h sdk/readme.txt sdk/sample.cpp sdk/sample.def | sort)
actual=$(cd "$pkg" && find . -type f | sed 's|^\./||' | sort)
[ "$expected" = "$actual" ] || fail "the package holds:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"

# The checksums are hashed again here, not read back: SHA256SUMS.txt holds
# every other file of the folder as sha256sum writes it, sorted by bytes;
# the list beside the zip holds the zip, then the same lines under the
# folder that unpacking makes.
sums=$(cd "$pkg" && find . -type f ! -path ./SHA256SUMS.txt -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum |
  sed 's/$/\r/')
[ "$(cat "$pkg/SHA256SUMS.txt")" = "$sums" ] || fail "SHA256SUMS.txt holds:"$'\n'"$(cat "$pkg/SHA256SUMS.txt")"$'\n'"expected:"$'\n'"$sums"
beside=$(cd "$(dirname "$zip")" && sha256sum "kes_bat-$version.zip" | sed 's/$/\r/')$'\n'$(sed "s|  |  kes_bat-$version/|" <<<"$sums")
[ "$(cat "$zip.sha256" 2>/dev/null)" = "$beside" ] || fail "$zip.sha256 does not list the zip and its files"

# The texts as a Japanese Windows opens them: Shift_JIS, CR LF throughout.
for text in readme.txt SHA256SUMS.txt sdk/readme.txt sdk/sample.cpp sdk/sample.def sdk/cpi.h; do
  iconv -f CP932 -t UTF-8 "$pkg/$text" >/dev/null || fail "$text is not Shift_JIS"
  [ "$(grep -c $'\r$' "$pkg/$text")" = "$(wc -l < "$pkg/$text")" ] || fail "$text has a line without CR LF"
done
readme=$(iconv -f CP932 -t UTF-8 "$pkg/readme.txt")
for plugin in "$@"; do
  grep -q "^  $plugin " <<<"$readme" || fail "readme.txt does not list $plugin"
done
# How to check the files, and what Windows may show for an unsigned program.
for phrase in SHA256SUMS.txt "certutil -hashfile kes_bat.exe SHA256" Get-FileHash "kes_bat-$version.zip.sha256" \
  "WindowsによってPCが保護されました" "「詳細情報」→「実行」" ブロックの解除 "Smart App Control"; do
  grep -qF -- "$phrase" <<<"$readme" || fail "readme.txt does not say \"$phrase\""
done

# The guide's MinGW-w64 command, run with the posix thread variant of g++.
sdk="$out/sdk_build"
cp -r "$pkg/sdk" "$sdk"
command=$(iconv -f CP932 -t UTF-8 "$sdk/readme.txt" | tr -d '\r' | grep -m1 '^ *i686-w64-mingw32-g++ ') ||
  fail "sdk/readme.txt gives no i686-w64-mingw32-g++ command"
(cd "$sdk" && eval "${command/i686-w64-mingw32-g++ /i686-w64-mingw32-g++-posix }")
cp "$sdk/sample.cpi" "$pkg/"
