#!/usr/bin/env bash
# Builds zstd as a static library for i686-w64-mingw32, which Debian does not
# ship, from Debian's own source package with zstd's own CMake files. The
# upstream tarball is built unchanged; sources, objects and the result stay
# in the build folder and are made once.
#   scripts/build-zstd.sh BUILD_DIR
# Leaves BUILD_DIR/third_party/zstd-i686/{include,lib/libzstd.a}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: build-zstd.sh BUILD_DIR}
work=$build/third_party
out=$work/zstd-i686
stamp=$out/.kes-built

[ -f "$stamp" ] && [ -f "$out/lib/libzstd.a" ] && exit 0

# The source package is libzstd.
src=$work/zstd-src
tarball=$("$root/scripts/fetch-debian-source.sh" libzstd "$work/download" "$src")
rm -rf "$work/zstd-obj" "$out"

# Only the library: no programs, tests, threads or legacy formats, which the
# tool needs none of.
cmake -S "$src/build/cmake" -B "$work/zstd-obj" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$out" \
  -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF \
  -DZSTD_BUILD_CONTRIB=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF >/dev/null
cmake --build "$work/zstd-obj" -j2 >/dev/null
cmake --install "$work/zstd-obj" >/dev/null
echo "$tarball" > "$stamp"
echo "build-zstd: built $(cat "$stamp") for i686-w64-mingw32 into $out"
