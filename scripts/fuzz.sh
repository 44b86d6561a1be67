#!/usr/bin/env bash
# Installs what the fuzz build needs (only what is missing), builds the fuzz preset from
# scratch and runs each fuzz target for the given seconds (default 60) on a copy of its
# seed corpus. Exits non-zero when a target finds anything: a crash, a sanitizer report,
# a leak, a timeout or running out of memory. Its inputs are kept in build/fuzz/findings.
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [seconds]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

targets=(frame_decoder_fuzz message_decoding_fuzz tombstone_decoding_fuzz ledger_loading_fuzz)

# libclang-rt-14-dev holds libclang_rt.fuzzer.
packages=(
  clang libclang-rt-14-dev cmake ninja-build pkg-config
  nlohmann-json3-dev libssl-dev uuid-dev libicu-dev libasio-dev libsystemd-dev
  libasound2-dev libjack-jackd2-dev libavahi-client-dev
)

scripts/install-packages.sh "${packages[@]}"

rm -rf build/fuzz
cmake --preset fuzz
cmake --build --preset fuzz -j2 --target "${targets[@]}"

# tmpfs when there is one: the ledger target syncs its files for every input.
base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work="$(mktemp -d -p "$base" varnello-fuzz.XXXXXX)"
trap 'rm -rf "$work"' EXIT

findings="$root/build/fuzz/findings"
status=0
for target in "${targets[@]}"; do
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  cp fuzz/corpus/"$target"/* "$work/$target/corpus/"
  log="$work/$target/log"
  # TMPDIR: the ledger target's folder then goes when the work folder goes.
  if (cd "$work/$target" && TMPDIR="$work/$target" "$root/build/fuzz/fuzz/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/$target/artifacts/" corpus) >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "$target: ${runs:-?} executions in $seconds s, nothing found"
  else
    status=1
    mkdir -p "$findings/$target"
    cp "$work/$target/artifacts/"* "$findings/$target/" 2>/dev/null || true
    cp "$log" "$findings/$target/log"
    echo "$target: FOUND A FAULT (inputs and log in build/fuzz/findings/$target):"
    tail -n 60 "$log"
  fi
done
exit "$status"
