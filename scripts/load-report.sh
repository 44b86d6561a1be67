#!/usr/bin/env bash
# Builds the bridge and its load report, then runs the report with a JACK dummy
# server, D-Bus and a loopback avahi-daemon (run as root). No other bridge may run.
# Arguments go to the report: --bridge PATH (another build to measure), --slices N,
# --quick (a short smoke run).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build build/default -j2 --target varnello-bridge bridge_load_report
exec scripts/with-test-services.sh build/default/bench/bridge/bridge_load_report "$@"
