#!/usr/bin/env bash
# Installs what building and testing the terminal needs, from Debian's packages.
set -euo pipefail
packages=(build-essential cmake pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libusb-dev
          libgtest-dev libgmock-dev googletest fonts-dejavu-core usbutils
          qt6-translations-l10n libcli11-dev nlohmann-json3-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
