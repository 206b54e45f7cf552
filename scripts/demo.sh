#!/usr/bin/env bash
# Builds the tool and updates the built-in simulated radio from the demo package, with the
# demo machine's folder in the build tree. Arguments, when given, go to orvik-cli instead (for
# example: --port /dev/pts/3 info).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
if [ $# -eq 0 ]; then
  set -- --simulate --data-dir build/demo-machine update --yes
fi
exec build/bin/orvik-cli "$@"
