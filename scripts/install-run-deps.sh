#!/usr/bin/env bash
# Installs what building and running the program needs (compiler, CMake, Qt, the libraries it links, the
# fonts its charts are drawn with); the test toolchain is scripts/install-deps.sh's.
set -euo pipefail
run_packages=(
  build-essential cmake ninja-build pkg-config g++
  zlib1g-dev libbz2-dev libjpeg62-turbo-dev libsqlite3-dev libicu-dev
  qt6-base-dev libgl-dev
  fonts-liberation2
)
bash "$(dirname "$0")/install-packages.sh" "${run_packages[@]}"
