#!/usr/bin/env bash
# Fetches the upstream tarball of one of Debian's source packages into a
# folder, once, unpacks it afresh into another, and prints the tarball's
# name. A mirror may lack the newest version's files (a security update),
# so each version apt knows is tried in turn; only the upstream tarball is
# used.
#   scripts/fetch-debian-source.sh PACKAGE DOWNLOADS SOURCES
set -euo pipefail
usage="usage: fetch-debian-source.sh PACKAGE DOWNLOADS SOURCES"
package=${1:?$usage}
folder=${2:?$usage}
sources=${3:?$usage}
mkdir -p "$folder"
tarball() { ls "$folder/${package}_"*.orig.tar.* 2>/dev/null | grep -v "\.asc$" | sort -V | tail -n 1; }
if [ -z "$(tarball)" ]; then
  for version in $(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV); do
    # The upstream tarball may arrive even when the Debian part is missing.
    (cd "$folder" && apt-get source --download-only "$package=$version" >/dev/null 2>&1) || true
    [ -n "$(tarball)" ] && break
  done
fi
if [ -z "$(tarball)" ]; then
  echo "fetch-debian-source: could not fetch the source package $package; run scripts/install-deps.sh first" >&2
  exit 1
fi
rm -rf "$sources"
mkdir -p "$sources"
tar -xf "$(tarball)" -C "$sources" --strip-components=1
basename "$(tarball)"
