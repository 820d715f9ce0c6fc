#!/usr/bin/env bash
# Takes docs/screenshot.png: the window after loading the sample original, damaged
# image and mask and one run with the start values, drawn on a virtual X display.
# Usage: scripts/screenshot.sh [OUTPUT.png]   (build tree: $RUVANTA_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
dir=${RUVANTA_BUILD_DIR:-build}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja >/dev/null
fi
cmake --build "$dir" --target ruvanta-screenshot -j "$(nproc)"

mkdir -p "$(dirname "$out")"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$dir/ruvanta-screenshot" data/original.bmp data/damaged.bmp data/mask.bmp "$out"
echo "wrote $out"
