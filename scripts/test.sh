#!/usr/bin/env bash
# Installs what is missing, builds the given preset from scratch and runs every test:
# the whole suite with its services, then the ALSA sequencer tests inside a small VM
# (a kernel with the sequencer) and the block-device tests in one with loop and
# device-mapper devices, when the alsa-vm tool is beside this checkout.
set -euo pipefail

preset="${1:-default}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

rm -rf "build/$preset"
scripts/setup.sh "$preset"
scripts/with-test-services.sh ctest --preset "$preset"

alsa_vm="$root/../shared/tools/alsa-vm/alsa-vm"
if ctest --preset "$preset" -N -L alsa | grep -q "Test *#"; then
  if [ -x "$alsa_vm" ] || [ -f "$alsa_vm" ]; then
    bash "$alsa_vm" --timeout 900 -- ctest --preset "$preset" -L alsa
  else
    echo "alsa-vm is not beside this checkout: the ALSA sequencer tests ran without a sequencer only."
  fi
fi

# Power loss and device errors run once, in the plain build: under emulation the
# sanitizers would only make the same run several times slower.
if [ "$preset" = default ] && [ -f "$alsa_vm" ] && ctest --preset "$preset" -N -L block | grep -q "Test *#"; then
  bash "$alsa_vm" --block --mem 1536 --timeout 1500 -- ctest --preset "$preset" -L block
fi
