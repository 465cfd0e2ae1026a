#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only what is missing.
# Safe to run again: each step checks first.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

PKGS=(cmake make python3 g++-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
      wine wine32:i386 wine64 xvfb xdotool x11-utils imagemagick
      fonts-ipafont-gothic locales googletest
      zip unzip libjpeg-turbo-progs libimage-exiftool-perl pngcheck jhead exiv2 python3-pil
      ffmpeg id3v2 python3-mutagen flac vorbis-tools opus-tools p7zip-full sox
      g++ zlib1g-dev clang libclang-rt-14-dev libzstd-dev libssl-dev perl)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's ANSI code page follows the locale: the tool's texts are Shift_JIS,
# so everything runs under ja_JP.UTF-8, which must exist.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# zstd and OpenSSL have no MinGW build in Debian: scripts/build-zstd.sh and
# scripts/build-openssl.sh build them from Debian's source packages, which
# need a deb-src entry beside the system's deb entries (same mirrors, suites
# and keys).
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  else
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list | $SUDO tee /etc/apt/sources.list.d/debian-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
fi
