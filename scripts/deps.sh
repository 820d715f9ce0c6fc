#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, skipping
# those already installed (a second run asks apt nothing). Runs without a terminal.
# --list prints the packages, one a line, and installs nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libspng-dev libjpeg62-turbo-dev libpng-dev nlohmann-json3-dev
  qt6-base-dev libgl-dev xvfb xauth xdotool
  imagemagick dbus-x11 at-spi2-core python3-pyatspi openbox
  fonts-liberation2
  clang libclang-rt-14-dev
  man-db desktop-file-utils dpkg-dev file
  pybind11-dev python3-dev python3-numpy
)

if [ "${1:-}" = --list ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
