#!/usr/bin/env bash
# The Debian package as a user meets it: builds it from this checkout (or takes the
# given .deb), installs it with apt-get, checks the installed files, runs the installed
# bridge headless on JACK with a fresh home (ready, one OSC command accepted and its
# datagram received, exit 0 on SIGTERM), then purges it and looks for anything left.
#   package-check.sh [DEB]
# As root, with a JACK server running (scripts/with-test-services.sh package-check.sh).
# Refuses to run where varnello-bridge is already installed: it would purge it.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
started=$(date +%s)

fail() { echo "package-check: FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root: it installs and purges a package"
if dpkg-query -W -f='${Status}' varnello-bridge 2>/dev/null | grep -q "ok installed"; then
  fail "varnello-bridge is already installed here; remove it first"
fi

if [ $# -ge 1 ]; then
  deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
else
  scripts/build-deb.sh
  debs=("$root"/build/deb/varnello-bridge_*.deb)
  [ "${#debs[@]}" = 1 ] || fail "expected one package in build/deb, found ${#debs[@]}"
  deb="${debs[0]}"
fi
built=$(date +%s)

scripts/install-packages.sh python3 man-db appstream desktop-file-utils systemd

workdir=$(mktemp -d /tmp/varnello-package-check.XXXXXX)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive timeout 600 apt-get -o DPkg::Lock::Timeout=300 purge -y varnello-bridge >/dev/null 2>&1 || true
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT

echo "package-check: $(basename "$deb") depends on: $(dpkg-deb -f "$deb" Depends)"
installed=1
DEBIAN_FRONTEND=noninteractive timeout 600 apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "$deb"
dpkg -L varnello-bridge >"$workdir/files"

# The same checks as for `cmake --install`, on the files the package put below /usr.
bash tests/app/install-check.sh --installed /usr
man -w varnello-bridge >/dev/null || fail "man does not find varnello-bridge(1)"

ufw_profile=/etc/ufw/applications.d/varnello-bridge
firewalld_service=/usr/lib/firewalld/services/varnello-bridge.xml
grep -qx 'ports=5353/udp|61885/tcp' "$ufw_profile" || fail "$ufw_profile does not open mDNS and TCP 61885"
python3 - "$firewalld_service" <<'PY' || fail "$firewalld_service does not open mDNS and TCP 61885"
import sys, xml.etree.ElementTree as tree
ports = {(p.get("protocol"), p.get("port")) for p in tree.parse(sys.argv[1]).getroot().iter("port")}
sys.exit(0 if ports == {("udp", "5353"), ("tcp", "61885")} else 1)
PY

timeout 120 python3 tests/app/installed-bridge-check.py /usr/bin/varnello-bridge

DEBIAN_FRONTEND=noninteractive timeout 600 apt-get -o DPkg::Lock::Timeout=300 purge -y varnello-bridge
installed=0

# Every path the package held must be gone, except folders that other packages own
# or that hold files of others.
left=0
while IFS= read -r path; do
  if [ ! -e "$path" ] && [ ! -L "$path" ]; then continue; fi
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    if dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; then continue; fi
  fi
  echo "left behind: $path" >&2
  left=1
done <"$workdir/files"
[ "$left" = 0 ] || fail "files of the package are left after apt-get purge"
[ ! -e /usr/bin/varnello-bridge ] || fail "/usr/bin/varnello-bridge is still there"

finished=$(date +%s)
echo "package-check: passed in $((finished - started)) s (package build $((built - started)) s)"
