#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those missing),
# then configures and builds the given CMake preset (default: "default").
set -euo pipefail

preset="${1:-default}"
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libssl-dev uuid-dev libicu-dev libasio-dev
  libasound2-dev libjack-jackd2-dev libavahi-client-dev libsystemd-dev
  qt6-base-dev libqt6svg6
  jackd2 avahi-daemon avahi-utils dbus liblo-tools alsa-utils
  desktop-file-utils systemd man-db appstream
  xvfb trayer xdotool imagemagick x11-utils dbus-daemon dbus-bin
  haskell-gtk-sni-tray-utils
  python3 dmsetup e2fsprogs
)

scripts/install-packages.sh "${packages[@]}"

cmake --preset "$preset"
cmake --build --preset "$preset"
