#!/usr/bin/env bash
# Installs every Debian package Framewright needs to build, test and run.
# Safe to run repeatedly: already-installed packages are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libpng-dev libjpeg62-turbo-dev libgif-dev libheif-dev libopenexr-dev
  libfreetype-dev fonts-dejavu-core
  libsecret-1-dev libtbb-dev libicu-dev
  qt6-base-dev xvfb xauth
  espeak-ng
  libsnappy-dev liblzf-dev libebur128-dev libstb-dev libsquish-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e lock -e partial)" ] \
   || ! "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
