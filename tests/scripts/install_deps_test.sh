#!/usr/bin/env bash
# scripts/install-deps.sh as a user who is not root, with packages missing:
# without sudo it says what to do and runs nothing that needs root; with sudo
# it installs the missing packages through sudo. The system's tools are
# replaced by small stand-ins, so nothing is installed for real.
#   install_deps_test.sh SOURCE_DIR
set -euo pipefail
script=$1/scripts/install-deps.sh
shims=$(mktemp -d)
trap 'rm -rf "$shims"' EXIT
for tool in bash cat grep mktemp tail env; do ln -s "$(command -v "$tool")" "$shims/$tool"; done
stub() { printf '#!%s\n%s\n' "$(command -v bash)" "$2" >"$shims/$1"; chmod +x "$shims/$1"; }
stub id 'case $1 in -u) echo 1000 ;; -un) echo engineer ;; esac'
stub dpkg-query 'exit 1'                                 # nothing is installed
stub apt-get 'echo "apt-get $*" >>"$CALLS"'
fail() { echo "FAIL: $*" >&2; exit 1; }
export CALLS=$shims/calls

run() { PATH=$shims "$shims/bash" "$script" extra-tool >"$shims/out" 2>&1; }

# Without sudo.
if run; then fail "succeeded without sudo"; fi
grep -q 'sudo is not installed' "$shims/out" || fail "no word about sudo: $(cat "$shims/out")"
grep -q "su -c 'apt-get update && apt-get install -y --no-install-recommends .*extra-tool'" \
    "$shims/out" || fail "no command to run as root: $(cat "$shims/out")"
grep -q 'adduser engineer sudo' "$shims/out" || fail "no way to get sudo: $(cat "$shims/out")"
[ ! -e "$CALLS" ] || fail "ran apt-get without root: $(cat "$CALLS")"

# With sudo.
stub sudo '"$@"'
run || fail "failed with sudo: $(cat "$shims/out")"
grep -q '^apt-get update$' "$CALLS" || fail "no apt-get update: $(cat "$CALLS")"
grep -q '^apt-get install -y --no-install-recommends .*cmake.* extra-tool$' "$CALLS" ||
    fail "missing packages not installed: $(cat "$CALLS")"
echo "install-deps.sh: both cases passed"
