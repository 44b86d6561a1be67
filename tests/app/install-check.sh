#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what lands there:
#   install-check.sh BUILD_DIR
# or checks what the Debian package installed below a prefix:
#   install-check.sh --installed /usr
# The desktop entry, the user unit, the manual page and the metadata are also
# checked by desktop-file-validate, systemd-analyze, man and appstreamcli when those
# tools are present. Every tool runs under a time limit.
set -euo pipefail

if [ "$1" = --installed ]; then
  prefix="$2"
  # Debian compresses its manual pages.
  manual="$prefix/share/man/man1/varnello-bridge.1.gz"
else
  build="$1"
  prefix=$(mktemp -d /tmp/varnello-install-XXXXXX)
  trap 'rm -rf "$prefix"' EXIT
  timeout 60 cmake --install "$build" --prefix "$prefix" >/dev/null
  manual="$prefix/share/man/man1/varnello-bridge.1"
fi

failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

binary="$prefix/bin/varnello-bridge"
icon="$prefix/share/icons/hicolor/scalable/apps/varnello-bridge-symbolic.svg"
desktop="$prefix/share/applications/varnello-bridge.desktop"
unit="$prefix/lib/systemd/user/varnello-bridge.service"
metainfo="$prefix/share/metainfo/org.varnello.bridge.metainfo.xml"

[ -x "$binary" ] || fail "no executable $binary"
[ -f "$icon" ] || fail "no icon $icon"
[ -f "$desktop" ] || fail "no desktop entry $desktop"
[ -f "$unit" ] || fail "no user unit $unit"
[ -f "$manual" ] || fail "no manual page $manual"
[ -f "$metainfo" ] || fail "no software-centre metadata $metainfo"
[ "$failed" = 0 ] || exit 1

timeout 10 "$binary" --version | grep -qx 'varnello-bridge [0-9.]*' || fail "--version of the installed binary"
grep -q '<svg' "$icon" || fail "the icon is not an SVG"

grep -qx "Exec=$binary" "$desktop" || fail "desktop entry does not run $binary"
grep -qx 'Categories=.*Audio;Midi;Network;' "$desktop" || fail "desktop entry categories"
grep -qx 'Icon=varnello-bridge-symbolic' "$desktop" || fail "desktop entry icon"
grep -qx "ExecStart=$binary --headless" "$unit" || fail "unit does not run $binary --headless"
grep -qx 'Restart=on-failure' "$unit" || fail "unit does not restart on failure"
grep -qx 'Type=notify' "$unit" || fail "unit does not wait for the bridge to say it is ready"
grep -qx 'WatchdogSec=90' "$unit" || fail "unit has no watchdog above the longest name lookup"
grep -qx 'WantedBy=default.target' "$unit" || fail "unit is not wanted by the session"

version=$(timeout 10 "$binary" --version | sed 's/^varnello-bridge //')
zcat -f "$manual" | grep -q "^\.TH VARNELLO-BRIDGE 1 .*\"Varnello Bridge $version\"" ||
  fail "the manual page does not carry version $version"

# Every tool below gets a time limit: a hung tool fails the check.
if command -v man >/dev/null; then
  if ! warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 timeout 30 man --warnings -l "$manual" 2>&1 >/dev/null) ||
    [ -n "$warnings" ]; then
    echo "$warnings" >&2
    fail "man --warnings"
  fi
else
  echo "man not installed: skipped"
fi

if command -v appstreamcli >/dev/null; then
  timeout 60 appstreamcli validate --no-net "$metainfo" >&2 || fail "appstreamcli validate"
else
  echo "appstreamcli not installed: skipped"
fi

if command -v desktop-file-validate >/dev/null; then
  # Hints are advice; errors and warnings are not.
  # Its status and its output both count: under pipefail a failing validator piped
  # into grep would otherwise go unnoticed.
  validator_status=0
  output=$(timeout 30 desktop-file-validate "$desktop" 2>&1) || validator_status=$?
  if [ "$validator_status" != 0 ] || [ -n "$(grep -Ev ': hint: ' <<<"$output")" ]; then
    echo "$output" >&2
    fail "desktop-file-validate"
  fi
else
  echo "desktop-file-validate not installed: skipped"
fi

if command -v systemd-analyze >/dev/null; then
  # The user manager may be absent (containers, CI); the unit's syntax and its
  # command are checked the same way by the system-mode verifier.
  if ! output=$(timeout 60 systemd-analyze verify "$unit" 2>&1) || [ -n "$output" ]; then
    echo "$output" >&2
    fail "systemd-analyze verify"
  fi
else
  echo "systemd-analyze not installed: skipped"
fi

exit "$failed"
