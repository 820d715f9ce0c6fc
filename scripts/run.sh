#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool: the window where there is a
# display, else the command line on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/ruvanta ]; then
  exec build/ruvanta
fi
exec build/ruvanta-cli --damaged data/damaged.bmp --mask data/mask.bmp --original data/original.bmp
