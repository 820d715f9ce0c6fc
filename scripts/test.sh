#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once as built for use, once
# under AddressSanitizer and UndefinedBehaviorSanitizer, then a short fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
scripts/deps.sh

scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scripts/build.sh build-asan -DRUVANTA_SANITIZE=ON -DRUVANTA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
(cd build-asan && ctest --output-on-failure -j "$(nproc)")

if [ -x scripts/fuzz.sh ]; then
  scripts/fuzz.sh --short
fi
