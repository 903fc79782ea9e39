#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need. Idempotent: does nothing
# when everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qtbase5-dev qtbase5-private-dev qttools5-dev qttools5-dev-tools qtbase5-dev-tools libqt5svg5-dev
  libspdlog-dev libinih-dev libx11-dev libdw-dev libelf-dev
  xvfb xauth trayer xdotool x11-utils imagemagick dbus dbus-x11
  qtwayland5 libwayland-dev wayland-protocols libxkbcommon-dev sway waybar grim wtype weston at-spi2-core python3-pyatspi
  fonts-dejavu-core fonts-wqy-microhei
  gdb clang libclang-rt-14-dev strace desktop-file-utils
  dpkg-dev
)
# The package test runs only in CI (it installs the package); its checker and autostart runner too.
if [ "${CI:-}" = "true" ]; then
  PACKAGES+=(lintian dex)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
