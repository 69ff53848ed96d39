#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need; does nothing when all are present.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config g++ clang
  zlib1g-dev libbz2-dev libjpeg62-turbo-dev libsqlite3-dev libicu-dev
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation2
  python3 python3-openpyxl libxml2-utils unzip
  libexpat1-dev
  libreoffice-calc-nogui libreoffice-writer-nogui
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
