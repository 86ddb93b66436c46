#!/usr/bin/env bash
# Builds the Debian package into build-package/ (k350-terminal_<version>_<arch>.deb)
# and checks it with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package
# Debian's hardening flags (stack protector, fortify, relro, bindnow), as a Debian build has them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
rm -rf build-package/_CPack_Packages build-package/*.deb
# The prefix /usr at configure time gives Debian's multiarch library folder, where the
# programs' private library goes without an ldconfig call in the maintainer scripts.
scripts/build.sh --quiet build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DK350_BUILD_BENCHMARKS=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
(cd build-package && cpack >cpack.log 2>&1) || {
    echo "cpack failed; the end of build-package/cpack.log:" >&2
    tail -n 40 build-package/cpack.log >&2
    exit 1
}
deb=$(ls build-package/*.deb)
echo "Built $deb"
lintian --fail-on error,warning "$deb"
