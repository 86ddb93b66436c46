#!/usr/bin/env bash
# The station's unit names the k350ctl of the prefix it is installed to, whatever prefix the
# build was configured with: cpack installs with CPACK_PACKAGING_INSTALL_PREFIX (/usr) under a
# DESTDIR, so a .deb made by plain cpack in a default build (/usr/local) starts /usr/bin/k350ctl;
# `cmake --install --prefix` gets its own. The installs are made as cpack makes its own, for the
# unit's component alone: a whole package needs every program built.
#   deb_paths_test.sh BUILD_DIR
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

packaged=$(sed -n 's/^set(CPACK_PACKAGING_INSTALL_PREFIX "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ "$packaged" = /usr ] || fail "the package's prefix is '$packaged', not /usr"

# ExecStart of the unit installed with this prefix.
exec_start_for() {
    rm -rf "${stage:?}"/*
    DESTDIR=$stage cmake --install "$build" --component station-unit --prefix "$1" >/dev/null
    sed -n 's/^ExecStart=//p' "$stage$1/lib/systemd/system/k350-station@.service"
}
for prefix in "$packaged" /opt/k350; do
    expected="$prefix/bin/k350ctl station --recipe /etc/k350/%I.toml --json"
    actual=$(exec_start_for "$prefix")
    [ "$actual" = "$expected" ] || fail "installed to $prefix, ExecStart=$actual"
done
echo "ExecStart follows the install's prefix: $packaged/bin/k350ctl in the package"
