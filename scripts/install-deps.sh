#!/usr/bin/env bash
# Installs what building and testing the terminal needs, from Debian's packages,
# and the further packages named as arguments (scripts/package.sh adds its tools).
# systemd: systemd-analyze, which checks the station's unit; libsystemd-dev: its sd_notify.
set -euo pipefail
packages=(build-essential cmake pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libusb-dev
          libusb-1.0-0-dev libumockdev-dev umockdev
          libgtest-dev libgmock-dev googletest fonts-dejavu-core usbutils
          qt6-translations-l10n libcli11-dev nlohmann-json3-dev
          libsqlite3-dev postgresql libpq-dev libtomlplusplus-dev chromium
          systemd libsystemd-dev "$@")
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
