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
  desktop-file-utils systemd
  xvfb trayer xdotool imagemagick x11-utils dbus-daemon dbus-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  # jackd2 asks about realtime priority without this.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake --preset "$preset"
cmake --build --preset "$preset"
