#!/usr/bin/env bash
# Takes the pictures of docs/, drawn on a virtual X display with the project's fonts:
#   screenshot.png           the window after loading the sample original, damaged image
#                            and mask and one run with the start values
#   screenshot-progress.png  the window during an automatic run on an 800 x 800 photo
#   screenshot-chart.png     the window after an automatic run on the sample, its chart
#   screenshot-viewer.png    the viewer with a mask being painted over the damaged sample
# Usage: scripts/screenshot.sh [OUTPUT_DIR]   (default docs; build tree: $RUVANTA_BUILD_DIR,
# default build)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
dir=${RUVANTA_BUILD_DIR:-build}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja >/dev/null
fi
cmake --build "$dir" --target ruvanta-screenshot -j "$(nproc)"

mkdir -p "$out"
unset QT_QPA_PLATFORM
# No session bus: a desktop's settings and portals play no part in the pictures.
export DBUS_SESSION_BUS_ADDRESS=disabled:
shot() {
  xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/ruvanta-screenshot" "$@"
  echo "wrote $2"
}
samples=(data/original.bmp data/damaged.bmp data/mask.bmp)
shot window "$out/screenshot.png" "${samples[@]}"
shot progress "$out/screenshot-progress.png" \
  bench/data/photo800.bmp bench/data/damaged800_5.bmp bench/data/mask800_5.bmp
shot chart "$out/screenshot-chart.png" "${samples[@]}"
shot viewer "$out/screenshot-viewer.png" data/damaged.bmp
