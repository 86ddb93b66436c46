#!/usr/bin/env bash
# Sets up, builds and starts the terminal: on the real board when one is
# plugged in (USB 0451:9001), otherwise on the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
if lsusb -d 0451:9001 >/dev/null 2>&1; then
    exec build/k350-terminal
fi
echo "No K-350 board on USB: starting the terminal on the simulated board."
exec build/k350-terminal-sim
