#!/usr/bin/env bash
# Installs every Debian package that building, running and testing TS6Satchel needs.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zlib1g-dev libdeflate-dev libspdlog-dev libfmt-dev libtomlplusplus-dev
  # the compressors the zip benchmark compares
  libisal-dev
  # fuzzing the template reader
  clang-14 libclang-rt-14-dev
  # checking archives with tools written elsewhere, and the benchmarks' competitors
  unzip zip python3 7zip libarchive-tools
  # running the windows without a display, fonts for them, screenshots
  xvfb xauth fonts-dejavu-core x11-apps imagemagick
  # measuring peak memory in the benchmarks
  time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
