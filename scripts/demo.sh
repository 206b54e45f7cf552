#!/usr/bin/env bash
# Builds the tool and runs it against the built-in simulated radio. Arguments, when given,
# go to orvik-cli instead (for example: --port /dev/pts/3 info).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
if [ $# -eq 0 ]; then
  set -- --simulate info
fi
exec build/bin/orvik-cli "$@"
