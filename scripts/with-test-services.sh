#!/usr/bin/env bash
# Runs a command with the services the tests talk to, all confined to this machine:
# a JACK server on the dummy driver, and a system D-Bus with an avahi-daemon that
# announces on the loopback interface only. Stops what it started, by pid; every
# tool it runs has a time limit.
set -euo pipefail

workdir=$(mktemp -d /tmp/varnello-services.XXXXXX)
dbus_pid=""
avahi_pid=""
jackd_pid=""

# SIGTERM, then SIGKILL when the process still runs after 10 seconds.
stop_pid() {
  if [ -z "$1" ]; then return 0; fi
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

cleanup() {
  stop_pid "$jackd_pid"
  stop_pid "$avahi_pid"
  # The daemon-restart test replaces the daemon started here with one of its own,
  # whose pid is in the daemon's pid file.
  if [ -n "$avahi_pid" ] && [ -f /run/avahi-daemon/pid ]; then
    replacement=$(cat /run/avahi-daemon/pid 2>/dev/null || true)
    if [ -n "$replacement" ] && [ "$(cat "/proc/$replacement/comm" 2>/dev/null)" = avahi-daemon ]; then
      stop_pid "$replacement"
    fi
  fi
  stop_pid "$dbus_pid"
  rm -rf "$workdir"
}
trap cleanup EXIT

fail() {
  echo "with-test-services: $1" >&2
  if [ -n "${2:-}" ] && [ -f "$2" ]; then sed 's/^/  | /' "$2" >&2; fi
  exit 1
}

system_bus_answers() {
  timeout 10 dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId >/dev/null 2>&1
}

wait_until() {
  for _ in $(seq 100); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

if [ "$(id -u)" -eq 0 ]; then
  # A socket file alone proves nothing: a machine image or an earlier run may have left it behind.
  if ! system_bus_answers; then
    rm -f /run/dbus/system_bus_socket /run/dbus/pid
    mkdir -p /run/dbus
    dbus_pid=$(timeout 20 dbus-daemon --system --fork --print-pid 2>"$workdir/dbus.log") ||
      fail "the system D-Bus did not start." "$workdir/dbus.log"
    wait_until system_bus_answers || fail "the system D-Bus does not answer." "$workdir/dbus.log"
  fi
  if ! timeout 10 avahi-daemon -c 2>/dev/null; then
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
    avahi-daemon -f "$workdir/avahi-daemon.conf" --no-chroot --no-drop-root --no-rlimits \
      >"$workdir/avahi.log" 2>&1 &
    avahi_pid=$!
    wait_until timeout 10 avahi-daemon -c 2>/dev/null ||
      fail "avahi-daemon did not start." "$workdir/avahi.log"
  fi
else
  echo "Not root: the DNS-SD tests use whatever avahi-daemon runs, or skip." >&2
fi

if ! timeout 10 jack_lsp >/dev/null 2>&1; then
  JACK_NO_AUDIO_RESERVATION=1 jackd -r -d dummy -r 48000 -p 256 >"$workdir/jackd.log" 2>&1 &
  jackd_pid=$!
  wait_until timeout 10 jack_lsp >/dev/null 2>&1 || fail "jackd did not start." "$workdir/jackd.log"
fi

export VARNELLO_TEST_JACK=1
if [ -n "$avahi_pid" ]; then export VARNELLO_TEST_AVAHI_CONFIG="$workdir/avahi-daemon.conf"; fi
"$@"
