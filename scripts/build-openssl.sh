#!/usr/bin/env bash
# Builds OpenSSL's libcrypto as a static library for i686-w64-mingw32, which
# Debian does not ship, from Debian's own source package with OpenSSL's own
# Configure. The journal takes SHA-256 from it: Windows has one (BCrypt),
# but Wine's is a plain loop, some fifteen times slower than OpenSSL's,
# which uses the processor's SHA instructions where it has them. The
# upstream tarball is built unchanged; sources, objects and the result stay
# in the build folder and are made once.
#   scripts/build-openssl.sh BUILD_DIR
# Leaves BUILD_DIR/third_party/openssl-i686/{include,lib/libcrypto.a}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: build-openssl.sh BUILD_DIR}
work=$build/third_party
out=$work/openssl-i686
stamp=$out/.kes-built

[ -f "$stamp" ] && [ -f "$out/lib/libcrypto.a" ] && exit 0

src=$work/openssl-src
obj=$work/openssl-obj
tarball=$("$root/scripts/fetch-debian-source.sh" openssl "$work/download" "$src")
rm -rf "$obj" "$out"
mkdir -p "$obj" "$out/lib"

# Only libcrypto, without what would reach outside the process (sockets,
# engines, modules, configuration files) or is not needed (tests).
(cd "$obj" && "$src/Configure" mingw --cross-compile-prefix=i686-w64-mingw32- \
  no-shared no-module no-tests no-engine no-dso no-async no-comp no-autoload-config \
  no-ui-console no-sock no-stdio >/dev/null)
make -C "$obj" -j"$(nproc)" build_generated >/dev/null
make -C "$obj" -j"$(nproc)" libcrypto.a >/dev/null
# The headers: the sources' own, and those Configure made for this target.
cp -r "$src/include" "$out/"
cp -r "$obj/include/." "$out/include/"
cp "$obj/libcrypto.a" "$out/lib/"
echo "$tarball" > "$stamp"
echo "build-openssl: built $(cat "$stamp") for i686-w64-mingw32 into $out"
