#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages.
set -euo pipefail

packages=(
  git cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev libcli11-dev libpugixml-dev minisign
  qt6-base-dev libgl-dev fonts-dejavu-core xvfb xauth
  dpkg-dev file librsvg2-bin desktop-file-utils appstream lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
