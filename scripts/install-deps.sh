#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and the program need (what running alone
# needs is scripts/install-run-deps.sh); does nothing when all are present.
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
bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
