#!/usr/bin/env bash
# Installs what the build needs and builds the tool into build/ (the install layout), with
# warnings as errors, as a developer builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_WERROR=ON >/dev/null
cmake --build build
