#!/usr/bin/env bash
# Builds the Debian package into build-package/ (k350-terminal_<version>_<arch>.deb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if ! command -v dpkg-shlibdeps >/dev/null; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y --no-install-recommends dpkg-dev file
fi
scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DK350_BUILD_BENCHMARKS=OFF
(cd build-package && cpack)
ls build-package/*.deb
