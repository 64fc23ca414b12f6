#!/usr/bin/env bash
# Installs every Debian package the project builds and tests with. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build g++ clang clang-16 libclang-rt-16-dev
  libgtest-dev googletest rapidjson-dev libxxhash-dev libstb-dev zlib1g-dev libz-mingw-w64-dev unicode-data
  mingw-w64 g++-mingw-w64-x86-64-win32 wine wine64 nsis python3 python3-pefile hyperfine util-linux
  unzip git osslsigncode openssl xvfb xdotool imagemagick fonts-wqy-microhei
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
