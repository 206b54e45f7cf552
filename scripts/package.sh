#!/usr/bin/env bash
# Builds the Debian package of the tool: a Release build with Debian's build flags in
# build-package/ (ORVIK_PACKAGE_BUILD_DIR names another), packed by CPack. The region's update
# package and its setup file are named here; without them the package holds none, only the
# demo package of the simulated radio. --key names the region vendor's public key (minisign
# .pub), which the package installs in keys/ so that the tool uses only packages that vendor
# signed; the update package given must verify with it. Further arguments go to cmake.
#
#   scripts/package.sh [--package DIR] [--setup FILE] [--key FILE.pub] [-DNAME=VALUE...]
#
# The last line printed is the package file's path.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ORVIK_PACKAGE_BUILD_DIR:-build-package}
package=""
setup=""
key=""
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --package) package=$(realpath "$2"); shift 2 ;;
    --setup) setup=$(realpath "$2"); shift 2 ;;
    --key) key=$(realpath "$2"); shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done

scripts/install-deps.sh
# Debian's hardening; no debugging information, as the package ships stripped programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# Given each time, so that a package or setup file of an earlier run is not taken again.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_TESTS=OFF -DORVIK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DORVIK_PACKAGE_DIR="$package" -DORVIK_SETUP_FILE="$setup" -DORVIK_VENDOR_KEY="$key" "${args[@]}" >/dev/null
cmake --build "$build"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb
