#!/usr/bin/env bash
# Installs the Debian packages Gadrel builds and tests against. Safe to run again.
#   scripts/install-deps.sh [fuzz]     fuzz: also clang and its fuzzing runtime
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  liblua5.1-0-dev lua-bitop-dev
  libhidapi-dev libusb-1.0-0-dev
  umockdev libumockdev-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core
  binutils zlib1g-dev
  qemu-system-arm gcc-arm-none-eabi libnewlib-arm-none-eabi gdb-multiarch
  sdcc sdcc-ucsim
  sigrok-cli
  dpkg-dev file man-db appstream desktop-file-utils
)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
