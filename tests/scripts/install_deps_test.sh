#!/usr/bin/env bash
# scripts/install-deps.sh: each purpose's packages (the terminal's without those of the line,
# the tests or the package); as a user who is not root, with packages missing: without sudo it
# says what to do and runs nothing that needs root, with sudo it installs the missing packages
# through sudo; and scripts/start.sh asks for the terminal's packages only, scripts/test.sh for
# everything. The system's tools are replaced by small stand-ins, so nothing is installed or
# built for real.
#   install_deps_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
script=$source_dir/scripts/install-deps.sh
shims=$(mktemp -d)
trap 'rm -rf "$shims"' EXIT
for tool in bash cat grep mktemp tail env dirname; do ln -s "$(command -v "$tool")" "$shims/$tool"; done
stub() { printf '#!%s\n%s\n' "$(command -v bash)" "$2" >"$shims/$1"; chmod +x "$shims/$1"; }
stub id 'case $1 in -u) echo 1000 ;; -un) echo engineer ;; esac'
stub dpkg-query 'exit 1'                                 # nothing is installed
stub apt-get 'echo "apt-get $*" >>"$CALLS"'
fail() { echo "FAIL: $*" >&2; exit 1; }
export CALLS=$shims/calls

# The packages of the purposes given, on one line.
listed() { bash "$script" --list "$@" | tr '\n' ' '; }
has() { [[ " $1 " == *" $2 "* ]]; }

# Each purpose's list.
terminal=$(listed terminal)
tests=$(listed tests)
package=$(listed package)
for p in build-essential cmake pkg-config qt6-base-dev qt6-charts-dev libusb-dev libusb-1.0-0-dev \
         usbutils qt6-translations-l10n; do
    has "$terminal" "$p" || fail "the terminal does not get $p: $terminal"
    has "$tests" "$p" || fail "the tests do not get $p: $tests"
    has "$package" "$p" || fail "the package does not get $p: $package"
done
for p in libcli11-dev nlohmann-json3-dev libtomlplusplus-dev libsqlite3-dev libpq-dev \
         libsystemd-dev; do
    has "$terminal" "$p" && fail "the terminal gets the line's $p: $terminal"
    has "$tests" "$p" || fail "the tests do not get $p: $tests"
    has "$package" "$p" || fail "the package does not get $p: $package"
done
for p in libgtest-dev libgmock-dev googletest umockdev libumockdev-dev postgresql chromium systemd; do
    has "$terminal" "$p" && fail "the terminal gets the tests' $p: $terminal"
    has "$package" "$p" && fail "the package gets the tests' $p: $package"
    has "$tests" "$p" || fail "the tests do not get $p: $tests"
done
for p in dpkg-dev file lintian; do
    has "$package" "$p" || fail "the package does not get $p: $package"
    has "$terminal" "$p" && fail "the terminal gets the package's $p: $terminal"
done
both=$(bash "$script" --list tests package)
[ "$(sort <<<"$both" | uniq -d)" = "" ] || fail "a package named twice: $both"
if bash "$script" terminl >/dev/null 2>&1; then fail "took an unknown purpose"; fi
if bash "$script" >/dev/null 2>&1; then fail "ran without a purpose"; fi

run() { PATH=$shims "$shims/bash" "$script" package >"$shims/out" 2>&1; }

# Without sudo.
if run; then fail "succeeded without sudo"; fi
grep -q 'sudo is not installed' "$shims/out" || fail "no word about sudo: $(cat "$shims/out")"
grep -q "su -c 'apt-get update && apt-get install -y --no-install-recommends .*lintian'" \
    "$shims/out" || fail "no command to run as root: $(cat "$shims/out")"
grep -q 'adduser engineer sudo' "$shims/out" || fail "no way to get sudo: $(cat "$shims/out")"
[ ! -e "$CALLS" ] || fail "ran apt-get without root: $(cat "$CALLS")"

# With sudo.
stub sudo '"$@"'
run || fail "failed with sudo: $(cat "$shims/out")"
grep -q '^apt-get update$' "$CALLS" || fail "no apt-get update: $(cat "$CALLS")"
grep -q '^apt-get install -y --no-install-recommends .*cmake.* lintian$' "$CALLS" ||
    fail "missing packages not installed: $(cat "$CALLS")"

# start.sh and test.sh in a copy of the scripts whose build.sh only records its arguments.
tree=$shims/tree
mkdir -p "$tree/scripts"
cp "$source_dir/scripts/start.sh" "$source_dir/scripts/test.sh" "$script" "$tree/scripts/"
printf '#!%s\necho "$*" >"$BUILT"; exit 9\n' "$(command -v bash)" >"$tree/scripts/build.sh"
chmod +x "$tree/scripts/"*.sh
export BUILT=$shims/built
# The packages a script asked apt-get to install, and the build's arguments.
started() {
    rm -f "$CALLS" "$BUILT"
    if PATH=$shims "$shims/bash" "$tree/scripts/$1" >"$shims/out" 2>&1; then
        fail "$1 went on past the build: $(cat "$shims/out")"
    fi
    [ -e "$BUILT" ] || fail "$1 did not build: $(cat "$shims/out")"
    installed=$(sed -n 's/^apt-get install -y --no-install-recommends //p' "$CALLS")
}
started start.sh
[ "$installed" = "${terminal% }" ] || fail "start.sh installed $installed, not $terminal"
grep -q -- '-DK350_BUILD_LINE=OFF' "$BUILT" || fail "start.sh built the line: $(cat "$BUILT")"
mkdir -p "$tree/build" && : >"$tree/build/CMakeCache.txt"
started start.sh
grep -q -- '-DK350_BUILD_LINE' "$BUILT" && fail "start.sh changed a configured folder: $(cat "$BUILT")"
started test.sh
[ "$installed" = "${tests% }" ] || fail "test.sh installed $installed, not $tests"
grep -q -- '-DK350_BUILD_LINE=ON -DBUILD_TESTING=ON' "$BUILT" ||
    fail "test.sh did not build the line and the tests: $(cat "$BUILT")"
echo "install-deps.sh: the purposes, both cases of root and the two scripts passed"
