#!/usr/bin/env bash
# Configures and builds one tree. Usage: scripts/build.sh [DIR] [extra cmake args...]
# DIR defaults to build; the sanitizer tree is build-asan (see scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
