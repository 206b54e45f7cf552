#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, starting from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-20}
status=0
for target in "$build"/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  seeds="tests/fuzz/corpus/$name"
  work=$(mktemp -d)
  log="$build/fuzz/$name.log"
  echo "-- $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/fuzz/$name-" "$work" "$seeds" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$log" || true
  else
    echo "fuzz target $name found a problem:"
    tail -n 60 "$log"
    status=1
  fi
  rm -rf "$work"
done
exit $status
