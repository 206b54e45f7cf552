#!/usr/bin/env bash
# Runs the desktop window on the simulated radio under a virtual X display and saves pictures
# of it for people to look at: idle with a radio read, the question before an update, an update
# under way, an update that failed, a cable that vanished while the window showed it attached,
# no cable at all, dealer mode, and the start-up picture. They go to build/screenshots/ (or the
# folder given as the first argument). ORVIK_BUILD_DIR names another build tree. The user's
# manual (help/) shows the same pictures: copy them there when the window changes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ORVIK_BUILD_DIR:-build}
out=${1:-$build/screenshots}
if [ ! -x "$build/bin/orvik-update" ] || [ ! -f "$build/demo/config.xml" ]; then
  echo "$build/bin/orvik-update or the demo package in $build/demo is missing: build first" \
    "(scripts/build.sh)" >&2
  exit 1
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian: xvfb xauth)" >&2; exit 1; }

# A fresh machine folder each time, so that a dealer login of an earlier run is not remembered,
# and a lock folder of its own, so that a running tool does not stop this one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out" "$scratch/run"
chmod 700 "$scratch/run"
XDG_RUNTIME_DIR="$scratch/run" ORVIK_RUNTIME_DIR="$scratch/run" xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/bin/orvik-update" --simulate --data-dir "$scratch/machine" --screenshots "$out"
