#!/usr/bin/env bash
# Builds what the demo runs (orvik-cli, orvik-radio-sim and the demo package) and updates the
# built-in simulated radio from the demo package, with the demo machine's folder in the build
# tree. Arguments, when given, go to orvik-cli instead, on the demo package (for example:
# --port /dev/pts/3 info, for a radio that orvik-radio-sim serves).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [ ! -f build/build.ninja ]; then
  echo "Configuring build/ ..."
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "Building orvik-cli, orvik-radio-sim and the demo package (the first time takes minutes) ..."
cmake --build build --target orvik-cli orvik-radio-sim orvik-pack orvik_demo_package
# The demo machine's folder starts with the demo machine's setup file.
machine=build/demo-machine
if [ ! -f "$machine/data/setup.dat" ]; then
  mkdir -p "$machine/data"
  cp build/demo/setup.dat "$machine/data/setup.dat"
fi
if [ $# -eq 0 ]; then
  set -- --simulate update --yes
  # The build signed the demo package with its own key, which the tool trusts for it alone.
  echo
  build/bin/orvik-pack verify build/demo --key build/demo-key/orvik-demo.pub
fi
echo
exec build/bin/orvik-cli --package build/demo --data-dir "$machine" "$@"
