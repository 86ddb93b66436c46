#!/usr/bin/env bash
# Renders docs/statistics-chart.png: the statistics window's chart page after
# two hours of reports from the simulated board, offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target k350-chart-screenshot -j"$(nproc)"
# In the Russian locale of the terminal's users (Qt reads LANG itself).
LANG=ru_RU.UTF-8 QT_QPA_PLATFORM=offscreen build/k350-chart-screenshot docs/statistics-chart.png
