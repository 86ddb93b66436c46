#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (headless).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh tests
dir=${K350_BUILD_DIR:-build}
set -f  # the arguments may hold glob patterns meant for CMake
# The line and the tests on, in case scripts/start.sh configured the folder for the terminal alone.
scripts/build.sh "$dir" -DK350_BUILD_LINE=ON -DBUILD_TESTING=ON ${K350_CMAKE_ARGS:-}
set +f
cd "$dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" ${K350_CTEST_ARGS:-}
