#!/usr/bin/env bash
# Installs, from Debian's packages, what a purpose needs:
#   scripts/install-deps.sh [--list] PURPOSE...
#   terminal  build and start the terminal on a real or simulated board (scripts/start.sh)
#   tests     build everything, k350ctl and the line included, and run the whole suite
#             (scripts/test.sh)
#   package   build the Debian package and check it (scripts/package.sh)
# --list prints the purposes' packages, one a line, and installs nothing.
set -euo pipefail
# qt6-translations-l10n: Qt's own dialogs in Russian; fonts-dejavu-core: the windows' text;
# usbutils: lsusb, with which start.sh looks for a real board; libusb-dev: the libusb-0.1 API
# the programs are written against.
terminal=(build-essential cmake pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev
          libusb-dev libusb-1.0-0-dev fonts-dejavu-core usbutils qt6-translations-l10n)
# k350ctl and the production line: command line, JSON, recipes, the SQLite and PostgreSQL store;
# libsystemd-dev: the station's readiness and watchdog under its systemd unit (sd_notify);
# libmicrohttpd-dev: k350ctl serve's HTTP server.
line=(libcli11-dev nlohmann-json3-dev libtomlplusplus-dev libsqlite3-dev libpq-dev libsystemd-dev
      libmicrohttpd-dev)
# umockdev: the real-stack tests; postgresql: the store's tests start a server of their own;
# chromium: renders the line report's page; systemd: systemd-analyze checks the station's
# unit; curl: a hook posts a run's record with it, and the serve tests follow its events;
# prometheus: the serve tests scrape its metrics and check them with promtool; clang,
# libclang-rt-14-dev, llvm: the fuzz targets (clang's libFuzzer and sanitizers, llvm-symbolizer
# for their stack traces).
tests=(libgtest-dev libgmock-dev googletest libumockdev-dev umockdev postgresql chromium systemd
       curl prometheus clang libclang-rt-14-dev llvm)
# dpkg-dev: dpkg-shlibdeps and dpkg-buildflags; file: CPack's check for what to strip.
package=(dpkg-dev file lintian)

list=0
if [ "${1:-}" = --list ]; then list=1; shift; fi
[ $# -gt 0 ] || { echo "usage: $0 [--list] terminal|tests|package..." >&2; exit 2; }
wanted=()
for purpose in "$@"; do
    case $purpose in
        terminal) wanted+=("${terminal[@]}") ;;
        tests) wanted+=("${terminal[@]}" "${line[@]}" "${tests[@]}") ;;
        package) wanted+=("${terminal[@]}" "${line[@]}" "${package[@]}") ;;
        *) echo "$0: no purpose \"$purpose\" (terminal, tests or package)" >&2; exit 2 ;;
    esac
done
packages=()
declare -A named=()
for p in "${wanted[@]}"; do
    [ -n "${named[$p]:-}" ] || packages+=("$p")
    named[$p]=1
done
if [ $list -eq 1 ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        cat >&2 <<TEXT
These Debian packages are missing: ${missing[*]}
Installing them needs root, and sudo is not installed. Either install them as root:
    su -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'
and run the command again; or install sudo as root (su -c 'apt-get install -y sudo'),
add yourself to the sudo group (su -c 'adduser $(id -un) sudo'), log in again and repeat.
TEXT
        exit 1
    fi
    as_root=(sudo)
fi
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
log=$(mktemp -t k350-install-deps.XXXXXX)
echo "Installing ${#missing[@]} missing Debian packages (log: $log): ${missing[*]}"
if ! { "${apt[@]}" update && "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; } \
        >"$log" 2>&1; then
    echo "Installing the packages failed; the end of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
fi
