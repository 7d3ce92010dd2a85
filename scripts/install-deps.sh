#!/usr/bin/env bash
# Installs the Debian packages that the build needs, when any is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config nlohmann-json3-dev libcli11-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          # The drive link: Modbus TCP and RTU.
          libmodbus-dev
          # Qt front end; Qt Charts needs the OpenGL module's CMake files, the off-screen
          # tests need a font to draw text with, and the dialogs' pictures are SVG.
          qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core libqt6svg6
          # The host draws the text of its PNG plots with FreeType and that font, and encodes
          # them with libpng.
          libfreetype-dev libpng-dev
          # The sanitizer build and the fuzz targets: clang with its sanitizer and libFuzzer
          # run-time libraries.
          clang libclang-rt-14-dev
          # The loop model's linear algebra.
          libeigen3-dev
          # The tests read the text of each page of a printed record.
          poppler-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
