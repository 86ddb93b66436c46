#!/usr/bin/env bash
# Renders docs/screenshot.png and a picture of every window (docs/windows/*.png):
# the terminal on the simulated board, offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target k350-screenshot -j"$(nproc)"
QT_QPA_PLATFORM=offscreen build/k350-screenshot docs/screenshot.png
QT_QPA_PLATFORM=offscreen build/k350-screenshot --windows "${1:-docs/windows}"
