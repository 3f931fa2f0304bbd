#!/usr/bin/env bash
# Installs every Debian package Framewright needs to build, test and run.
# Safe to run repeatedly: already-installed packages are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libpng-dev libjpeg62-turbo-dev libgif-dev libimagequant-dev libheif-dev libopenexr-dev openexr
  libfreetype-dev fonts-dejavu-core
  libsecret-1-dev libtbb-dev libicu-dev
  qt6-base-dev libqt6svg6 adwaita-icon-theme xvfb xauth
  dbus-daemon at-spi2-core
  espeak-ng
  libsnappy-dev liblzf-dev libebur128-dev libstb-dev libsquish-dev
  clang libclang-rt-14-dev clang-format-14
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

# Tests check that a decimal-comma locale never reaches file text.
ensure_test_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
  command -v locale-gen >/dev/null || return 0
  "${sudo_cmd[@]}" sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_test_locale
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
if [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e lock -e partial)" ] \
   || ! "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
ensure_test_locale
