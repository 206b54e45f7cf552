#!/usr/bin/env bash
# orvik-cli reads the simulated radio in process, and over a pseudo-terminal served by
# orvik-radio-sim.
set -euo pipefail
cli=$1
sim=$2
data=$(mktemp -d)
trap 'kill "${simpid:-0}" 2>/dev/null || true; rm -rf "$data"' EXIT

expect_identity() {
  grep -q '^Model: *LA26CKN9AR1$' <<<"$1"
  grep -q '^Serial number: *1234ABC5678$' <<<"$1"
  grep -q '^Firmware: *R01.02.03$' <<<"$1"
}

out=$("$cli" --simulate --data-dir "$data" info)
expect_identity "$out"

fifo="$data/sim.out"
mkfifo "$fifo"
"$sim" >"$fifo" &
simpid=$!
exec 3<"$fifo"   # held open, so that the simulator can go on writing
read -r -t 10 -u 3 pty
out=$("$cli" --port "$pty" --data-dir "$data" --trace info)
expect_identity "$out"
grep -q 'TX F2 23 00 EA' "$data/log/trace.log"

# No cable at all: a clear failure and exit code 1.
if "$cli" --port "$data/no-such-port" --data-dir "$data" info 2>"$data/err"; then
  echo "expected a failure without a cable" >&2
  exit 1
fi
grep -q 'Failed to connect radio.' "$data/err"
grep -q 'does not exist' "$data/err"
echo "ok"
