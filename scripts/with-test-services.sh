#!/usr/bin/env bash
# Runs a command with the services the tests talk to, all confined to this machine:
# a JACK server on the dummy driver, and a system D-Bus with an avahi-daemon that
# announces on the loopback interface only. Stops what it started, by pid.
set -euo pipefail

workdir=$(mktemp -d /tmp/varnello-services.XXXXXX)
started_avahi=0
jackd_pid=""

cleanup() {
  if [ -n "$jackd_pid" ]; then kill "$jackd_pid" 2>/dev/null || true; wait "$jackd_pid" 2>/dev/null || true; fi
  if [ "$started_avahi" = 1 ]; then avahi-daemon -k 2>/dev/null || true; fi
  rm -rf "$workdir"
}
trap cleanup EXIT

if [ "$(id -u)" -eq 0 ]; then
  if [ ! -S /run/dbus/system_bus_socket ]; then
    mkdir -p /run/dbus
    dbus-daemon --system --fork
  fi
  if ! avahi-daemon -c 2>/dev/null; then
    cat > "$workdir/avahi-daemon.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
CONF
    avahi-daemon -f "$workdir/avahi-daemon.conf" --no-chroot --no-drop-root -D
    started_avahi=1
  fi
else
  echo "Not root: the DNS-SD tests use whatever avahi-daemon runs, or skip." >&2
fi

if ! jack_lsp >/dev/null 2>&1; then
  JACK_NO_AUDIO_RESERVATION=1 jackd -r -d dummy -r 48000 -p 256 >"$workdir/jackd.log" 2>&1 &
  jackd_pid=$!
  for _ in $(seq 50); do
    if jack_lsp >/dev/null 2>&1; then break; fi
    sleep 0.1
  done
fi

export VARNELLO_TEST_JACK=1
if [ "$started_avahi" = 1 ]; then export VARNELLO_TEST_AVAHI_CONFIG="$workdir/avahi-daemon.conf"; fi
"$@"
