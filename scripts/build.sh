#!/usr/bin/env bash
# Configures and builds into a folder.
#   scripts/build.sh [--quiet] [--target NAME]... [DIR] [CMAKE_ARGS...]
# DIR defaults to build. --target builds only the targets named and what they
# need (name the largest first); --quiet keeps the build's output in
# DIR/build.log and prints one line of progress instead, and the end of the log
# when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
quiet=0
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        --quiet) quiet=1; shift ;;
        --target) targets+=(--target "$2"); shift 2 ;;
        *) break ;;
    esac
done
dir=${1:-build}
shift || true

# ccache, where installed, keeps rebuilds of several checkouts cheap on two cores.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

build() {
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
}

# Copies the build's output into the log and shows its last percentage.
progress_line() {
    local line percent=0
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        # Each target counts from 0 again: the line shows the highest so far.
        if [[ $line =~ ^\[\ *([0-9]+)%\] ]] && [ "${BASH_REMATCH[1]}" -gt $percent ]; then
            percent=${BASH_REMATCH[1]}
        fi
        if [ -t 1 ]; then printf '\rBuilding: %3d%%' "$percent"; fi
    done
    if [ -t 1 ]; then printf '\r%20s\r' ''; fi
}

if [ $quiet -eq 0 ]; then
    build "$@"
    exit
fi
mkdir -p "$dir"
log=$dir/build.log
: >"$log"
started=$SECONDS
if ! build "$@" 2>&1 | progress_line; then
    echo "The build failed; the end of its log ($log):" >&2
    tail -n 40 "$log" >&2
    exit 1
fi
echo "Built in $((SECONDS - started)) s (log: $log)."
