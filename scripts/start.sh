#!/usr/bin/env bash
# Sets up, builds and starts the terminal: on the real board when one is
# plugged in (USB 0451:9001), otherwise on the simulated board. It builds only
# the two terminal programs (and the simulator library), not the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

dir=build
log=$dir/start-build.log
mkdir -p "$dir"
started=$SECONDS
if [ ! -f "$dir/CMakeCache.txt" ]; then
    echo "Building the terminal: the first build takes about 4 minutes on two cores," \
         "later starts take seconds."
fi
# One line of progress; the build's own output goes to the log.
show_progress() {
    local line percent=0
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then percent=${BASH_REMATCH[1]}; fi
        [ -t 1 ] && printf '\rBuilding: %3d%%' "$percent"
    done
    return 0
}
: >"$log"
if ! { { [ -f "$dir/CMakeCache.txt" ] ||
         cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo; } &&
       cmake --build "$dir" -j"$(nproc)" --target k350-terminal k350-terminal-sim; } 2>&1 |
        show_progress; then
    [ -t 1 ] && echo
    echo "The build failed; the end of its log ($log):" >&2
    tail -n 40 "$log" >&2
    exit 1
fi
[ -t 1 ] && printf '\r%20s\r' ''
echo "Built in $((SECONDS - started)) s (log: $log)."

if lsusb -d 0451:9001 >/dev/null 2>&1; then
    echo "Starting the terminal on the K-350 board on USB. Close its window to stop."
    exec "$dir/k350-terminal"
fi
cat <<'TEXT'
No K-350 board on USB: starting the terminal on a SIMULATED K-350A board (nothing
real is read or written). Start with "Прочитать" (the first toolbar button after the
file buttons, or Задачи → Прочитать): it reads the board's configuration, and the tree
on the left then opens its settings windows. Close the window (or press Ctrl+C here) to stop.
TEXT
exec "$dir/k350-terminal-sim"
