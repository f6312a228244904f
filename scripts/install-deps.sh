#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing chantest need.
# Quiet and quick when everything is already there.
set -euo pipefail
packages=(cmake g++ make pkg-config ccache qt6-base-dev qt6-serialport-dev libxlsxwriter-dev libsystemd-dev systemd
  libgl-dev socat xvfb xauth python3-openpyxl fonts-dejavu-core desktop-file-utils dpkg-dev qt6-qpa-plugins ser2net
  clang libclang-rt-14-dev qt6-httpserver-dev qt6-websockets-dev libcrypt-dev chromium whois)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
