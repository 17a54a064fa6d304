#!/usr/bin/env bash
# Installs the Debian packages Tavolix needs to build, run and test. Does nothing when they
# are all present already, so it is cheap to call before every build.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev
  liballegro5-dev liballegro-ttf5-dev liballegro-image5-dev liballegro-dialog5-dev
  libcjson-dev zlib1g-dev libpng-dev libzip-dev libexpat1-dev libx11-dev libgl-dev libxi-dev libgtest-dev libbenchmark-dev
  fonts-dejavu-core
  xvfb xauth xdotool imagemagick x11-utils x11-xserver-utils python3
  appstream desktop-file-utils shared-mime-info
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
