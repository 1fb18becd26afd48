#!/usr/bin/env bash
# Installs every Debian package Tandor needs to build, run and test. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libcurl4-openssl-dev libarchive-dev libxcb1-dev libxcb-ewmh-dev
  libgtest-dev libgmock-dev googletest
  python3 python3-pyftpdlib
  fonts-nanum fonts-liberation2 qt6-translations-l10n libqt6svg6 xvfb xauth xdotool
  lintian
  binutils-mingw-w64-x86-64
  curl zip unzip nginx-light vsftpd gcovr
  bc time
  clang libclang-rt-14-dev
  libsodium-dev libssl-dev openssl ca-certificates python3-openssl
  libzstd-dev zstd libdivsufsort-dev
  xdelta3 bsdiff  # what bench/delta_compare.sh measures patches against
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
