#!/usr/bin/env bash
# Takes the pictures of docs/ from the real program: build/ruvanta started on a
# virtual X display with a window manager (openbox), driven by a real pointer and
# keyboard through the session runner of the tests (tests/ui/sessions/run_session.py)
# and the shared driver (../shared/tools/drive.py, or $RUVANTA_DRIVE):
#   screenshot.png         the window after loading the sample's three pictures and a run
#   screenshot-chart.png   the same after Go !!!, its chart showing the PSNR of every cycle
#   screenshot-method.png  the Method list open
#   screenshot-auto.png    the same pictures restored by the fill that chooses per region
#   screenshot-viewer.png  the viewer painting a mask over the damaged sample
#   screenshot-large.png   a 2400 x 1800 photo seen whole in the maximised window
# Usage: scripts/screenshot.sh [OUTPUT_DIR]   (default docs; build tree: $RUVANTA_BUILD_DIR,
# default build)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs}")
dir=${RUVANTA_BUILD_DIR:-build}
drive=${RUVANTA_DRIVE:-../shared/tools/drive.py}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja >/dev/null
fi
cmake --build "$dir" --target ruvanta ruvanta-cli -j "$(nproc)"

mkdir -p "$out"
unset QT_QPA_PLATFORM QT_SCALE_FACTOR
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for scene in window viewer large; do
  /usr/bin/python3 tests/ui/sessions/run_session.py --drive "$drive" --program "$dir/ruvanta" \
    --cli "$dir/ruvanta-cli" --source . --out "$work/$scene" "scripts/shots/$scene.drive"
  for png in "$work/$scene"/screenshot*.png; do
    cp "$png" "$out/"
    echo "wrote $out/$(basename "$png")"
  done
done
