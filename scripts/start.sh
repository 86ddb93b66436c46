#!/usr/bin/env bash
# Sets up, builds and starts the terminal: on the real board when one is
# plugged in (USB 0451:9001), otherwise on the simulated board. It builds only
# the two terminal programs and the simulator library, not the tests, and installs
# only the packages they need.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh terminal
terminal_only=()
if [ ! -f build/CMakeCache.txt ]; then
    echo "Building the terminal: the first build takes 2 to 4 minutes on two cores," \
         "later starts take seconds."
    # A folder configured before (by scripts/test.sh) keeps k350ctl, the line and the tests.
    terminal_only=(-DK350_BUILD_LINE=OFF)
fi
scripts/build.sh --quiet --target k350-terminal-sim --target k350-terminal build "${terminal_only[@]}"

if lsusb -d 0451:9001 >/dev/null 2>&1; then
    echo "Starting the terminal on the K-350 board on USB. Close its window to stop."
    exec build/k350-terminal
fi
cat <<'TEXT'
No K-350 board on USB: starting the terminal on a simulated K-350A board; nothing real
is read or written. Start with "Прочитать" (toolbar, or Задачи -> Прочитать): it reads the
board's configuration, and the tree on the left then opens its windows.
To stop, close the window or press Ctrl+C here.
TEXT
exec build/k350-terminal-sim
