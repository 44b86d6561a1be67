#!/usr/bin/env bash
# Builds the Debian package from this checkout with Debian's own tools and leaves
#   build/deb/varnello-bridge_<version>_<arch>.deb   and   build/deb/lintian.txt
# Installs the build dependencies it lacks (as root, or through sudo). Only the files
# git tracks are built, from a copy under build/deb, so nothing outside build/ is
# written: dpkg-buildpackage puts its results beside the copy, not beside the checkout.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/deb"
cd "$root"

fail() { echo "build-deb: $*" >&2; exit 1; }

scripts/install-packages.sh git dpkg-dev debhelper lintian

# One version for everything: CMake's project version is the source of it.
version=$(sed -n 's/^project(VarnelloBridge VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project VERSION in CMakeLists.txt"
changelog_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "debian/changelog is at $changelog_version but CMakeLists.txt at $version: add a changelog entry (dch -v $version)"
metainfo=packaging/metainfo/org.varnello.bridge.metainfo.xml
grep -q "<release version=\"$version\"" "$metainfo" ||
  fail "$metainfo has no release $version"

if ! dpkg-checkbuilddeps 2>/dev/null; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" timeout 600 apt-get update
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive timeout 1200 apt-get build-dep -y --no-install-recommends "$root"
fi

rm -rf "$out"
source="$out/src/varnello-bridge-$version"
mkdir -p "$source"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$source"

# ccache, when present, spares a developer the second compilation of the project.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_DIR="${CCACHE_DIR:-$root/build/ccache}" CCACHE_BASEDIR="$source"
fi

started=$(date +%s)
(cd "$source" && timeout 3600 dpkg-buildpackage -b -us -uc -j"$(nproc)")
echo "build-deb: dpkg-buildpackage took $(($(date +%s) - started)) s"

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb="varnello-bridge_${version}_${arch}.deb"
changes="$out/src/varnello-bridge_${version}_${arch}.changes"

# Errors fail the build; warnings stay in the report.
lintian_status=0
timeout 600 lintian --info --display-info "$changes" >"$out/lintian.txt" 2>&1 || lintian_status=$?
cat "$out/lintian.txt"
if grep -q '^E: ' "$out/lintian.txt"; then fail "lintian reports errors"; fi
[ "$lintian_status" = 0 ] || fail "lintian failed (status $lintian_status)"
mv "$out/src/$deb" "$out/"
echo "build-deb: $out/$deb"
