#!/usr/bin/env bash
# orvik-cli end to end: the simulated radio in process, a radio served by orvik-radio-sim on a
# pseudo-terminal, and the console protocol against "orvik-cli serve".
set -euo pipefail
cli=$1
sim=$2
build=$(cd "$(dirname "$cli")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The common umask: what the tool keeps private it must make private itself.
umask 022
export ORVIK_RUNTIME_DIR="$work/run"
mkdir -p "$ORVIK_RUNTIME_DIR"

fail() { echo "FAILED: $*" >&2; exit 1; }
field() { grep -q "^$1: $2\$" <<<"$3" || fail "expected '$1: $2' in: $3"; }

# In process, with the demo package and the simulated machine's setup file.
out=$("$cli" --simulate --data-dir "$work/sim" info)
field "Model" "LA26 Portable" "$out"
field "Serial Number" "1234ABC5678" "$out"
field "Firmware Version" "R01.02.03" "$out"
tail -n1 <<<"$out" | grep -qx "Successfully get radio information." || fail "info result"

out=$("$cli" --simulate --data-dir "$work/sim" --json info)
grep -q '"Serial Number":"1234ABC5678"' <<<"$out" || fail "json: $out"

# Without --yes and with nothing on standard input the question is answered No.
status=0
"$cli" --simulate --data-dir "$work/sim" update </dev/null >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 3 ] || fail "a declined update exits 3, not $status"
grep -q "Do you want to continue?" "$work/err" || fail "the question goes to standard error"

# The simulated radio keeps to a machine folder of its own: the real one (the data home's, or
# one named in ORVIK_DATA_DIR) is never written.
out=$(HOME="$work/home" XDG_DATA_HOME="" ORVIK_DATA_DIR="$work/real" "$cli" --simulate info) ||
  fail "simulated run without --data-dir: $out"
[ -f "$work/home/.local/share/Corvane Solutions/Orvik Update Tool (simulated radio)/data/setup.dat" ] ||
  fail "the simulated machine has no folder of its own"
[ ! -e "$work/real" ] && [ ! -e "$work/home/.local/share/Corvane Solutions/Orvik Update Tool" ] ||
  fail "the simulated radio wrote into the real machine's folder"

# A per-machine folder others may write stops the start, with what to do, and is not written.
mkdir -m 0777 "$work/open"
status=0
"$cli" --simulate --data-dir "$work/open" info >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "an open per-machine folder exits 1, not $status"
[ "$(cat "$work/err")" = "The folder \"$work/open\" may be written by other users, who could \
turn the files the tool writes there against other files; it is not used. Take their access away \
(chmod go-w \"$work/open\") and check what it holds, or name another folder with --data-dir." ] ||
  fail "open per-machine folder: $(cat "$work/err")"
[ -z "$(ls -A "$work/open")" ] || fail "the open per-machine folder was written"

# A file needed at the start that is missing or damaged: below the message, which file and
# where it was looked for; then where the log is. The tool is installed in a folder of its own.
mkdir -p "$work/inst/bin" "$work/broken"
cp "$cli" "$work/inst/bin/"
message="A file needed for application could not be found or is corrupted. Please re-install \
the application.
If you continue to get this message, please contact Customer Service."
start_failure() { # expected-problem machine-folder arguments...
  local expected=$1 machine=$2 status=0
  shift 2
  "$work/inst/bin/orvik-cli" --port "$work/no-such-port" --data-dir "$machine" "$@" info \
    >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 1 ] || fail "a start without its files exits 1, not $status"
  [ "$(cat "$work/err")" = "$message

$expected
See $machine/log/err.log" ] || fail "start-up failure, expected '$expected', got: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "start-up failure printed a result: $(cat "$work/out")"
}
# A package without the setup file that comes with it.
cp -r "$build/demo" "$work/package"
rm "$work/package/setup.dat"
start_failure "The setup file $work/m1/data/setup.dat is missing. The installation has none to \
copy in $work/package." "$work/m1" --package "$work/package"
# An installation without the dealer's package: nothing to re-install.
status=0
"$work/inst/bin/orvik-cli" --port "$work/no-such-port" --data-dir "$work/m1" info \
  >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a start without a package exits 1, not $status"
[ "$(cat "$work/err")" = "No update package is installed: $work/inst/data holds no config.xml.
Copy the update package from your dealer (config.xml and its files) into $work/inst/data, or \
name its folder with --package DIR.
To try the tool on a simulated radio, start it with --simulate (on the desktop: Orvik Update \
Tool (simulated radio)).
See $work/m1/log/err.log" ] || fail "a start without a package says: $(cat "$work/err")"
echo "not scrambled xml" >"$work/broken/config.xml"
start_failure "The update package in $work/broken is damaged or incomplete (The initial file \
[$work/broken/config.xml] is invalid.)" "$work/m1" --package "$work/broken"
# With the setup file that comes with the package, the first start copies it and goes on to
# the cable.
cp "$build/demo/setup.dat" "$work/package/setup.dat"
status=0
"$work/inst/bin/orvik-cli" --port "$work/no-such-port" --package "$work/package" \
  --data-dir "$work/m2" info >"$work/out" 2>&1 || status=$?
cmp -s "$work/package/setup.dat" "$work/m2/data/setup.dat" ||
  fail "the first start did not take the package's setup file: $(cat "$work/out")"
grep -qx "Failed to connect radio." "$work/out" || fail "after the copy: $(cat "$work/out")"
rm -rf "$work/inst" "$work/package"

# A radio on a pty, served by the simulator.
start_sim() {
  local fifo="$work/sim.out.$1"
  mkfifo "$fifo"
  "$sim" "${@:2}" >"$fifo" 2>"$work/sim$1.err" &
  pids+=($!)
  exec {simfd}<"$fifo"
  read -r -t 10 -u "$simfd" pty || fail "the simulator printed no pty"
}
start_sim 1
mkdir -p "$work/machine/data"
cp "$build/demo/setup.dat" "$work/machine/data/setup.dat"

# A run on a cable takes the package in data/ beside bin/ and never the simulated radio's demo
# package beside it, even when data/ has none.
mkdir -p "$work/tool/bin"
cp "$cli" "$work/tool/bin/"
ln -s "$build/demo" "$work/tool/demo"
"$work/tool/bin/orvik-cli" --simulate --data-dir "$work/sim" info >/dev/null ||
  fail "the simulated radio without its demo package"
status=0
"$work/tool/bin/orvik-cli" --port "$pty" --data-dir "$work/machine" info >"$work/out" \
  2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a cable without a package exits 1, not $status"
grep -qxF "No update package is installed: $work/tool/data holds no config.xml." "$work/err" ||
  fail "a cable without a package: $(cat "$work/out" "$work/err")"
grep -qF "$work/tool/data/config.xml" "$work/machine/log/err.log" ||
  fail "a cable's package is not data/: $(cat "$work/machine/log/err.log")"
rm -rf "$work/tool" "$work/machine/log"

# From here on the cable's package is the demo package, by name.
cli_on_cable() { "$cli" --package "$build/demo" "$@"; }

out=$(cli_on_cable --port "$pty" --data-dir "$work/machine" --trace info)
field "Codeplug Version" "R01.02.00" "$out"
grep -q 'TX F2 23 00 EA' "$work/machine/log/trace.log" || fail "trace"

out=$(cli_on_cable --port "$pty" --data-dir "$work/machine" update --yes 2>/dev/null)
tail -n1 <<<"$out" | grep -qx "Update successful." || fail "update: $out"
field "Firmware Version" "R01.03.00" "$out"
field "Codeplug Version" "R01.04.00" "$out"
ls "$work/machine/backup/"*.orvp >/dev/null || fail "no personality backup"

# Serial numbers need the dealer's login, which is then remembered.
status=0
cli_on_cable --port "$pty" --data-dir "$work/machine" serial 123ABCD5678 >"$work/out" \
  2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "serial without login exits 1, not $status"
[ "$(cat "$work/err")" = "Writing a serial number needs a dealer login first (orvik-cli login)." ] ||
  fail "serial without login: $(cat "$work/out" "$work/err")"
echo 12345678 | cli_on_cable --port "$pty" --data-dir "$work/machine" login >/dev/null 2>&1 ||
  fail "login"
out=$(cli_on_cable --port "$pty" --data-dir "$work/machine" serial 123ABCD5678 2>/dev/null)
tail -n1 <<<"$out" | grep -qx "Update serial number successful." || fail "serial: $out"
field "Serial Number" "123ABCD5678" "$out"
status=0
out=$(cli_on_cable --port "$pty" --data-dir "$work/machine" serial 123ABID5678 2>/dev/null) ||
  status=$?
[ "$status" -eq 1 ] && tail -n1 <<<"$out" | grep -qx "The serial number is incorrect." ||
  fail "a serial number against the rule: $out"

"$cli" --data-dir "$work/machine" history | grep -q "123ABCD5678" || fail "history"
[ "$(wc -l <"$work/machine/log/history.jsonl")" -eq 3 ] || fail "history lines"

# A cable that cannot be had says why below the message, exits 1, and the log has the
# report. Runs the tool from $2 on with the machine folder $1; the stdout's last two lines and
# the stderr must be exactly what follows the arguments: expect_connect_failure MACHINE REASON
# -- COMMAND...
expect_connect_failure() {
  local machine=$1 reason=$2
  shift 3
  local status=0
  "$@" --data-dir "$machine" info >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" -eq 1 ] || fail "$reason: exits 1, not $status"
  [ "$(tail -n2 "$work/out")" = "$(printf 'Failed to connect radio.\n%s' "$reason")" ] ||
    fail "$reason: $(cat "$work/out")"
  [ "$(cat "$work/err")" = "Details are in $machine/log/err.log" ] ||
    fail "$reason: standard error: $(cat "$work/err")"
  grep -q "Connect radio failed, this's caused by:" "$machine/log/err.log" ||
    fail "$reason: no report in err.log"
  grep -qxF "Error:${reason,}" "$machine/log/err.log" || fail "$reason: no reason in err.log"
}
expect_connect_failure "$work/machine" "The port [$work/no-such-port] does not exist." -- \
  cli_on_cable --port "$work/no-such-port"
touch "$work/regular-file"
expect_connect_failure "$work/machine" "The port [$work/regular-file] is not a tty." -- \
  cli_on_cable --port "$work/regular-file"
ORVIK_PORT=/dev/null expect_connect_failure "$work/machine" "The port [/dev/null] is not a tty." \
  -- cli_on_cable
# Another program holds the port (and its lock) open.
mkfifo "$work/lock.out"
# The holder becomes a process that waits for nothing until it is killed, which frees the port.
(flock -n 9 && echo locked && exec tail -f /dev/null) 9<"$pty" >"$work/lock.out" 2>/dev/null &
lockpid=$!
pids+=($lockpid)
exec {lockfd}<"$work/lock.out"
read -r -t 10 -u "$lockfd" line || fail "flock did not take the port"
expect_connect_failure "$work/machine" "The port [$pty] is in use by another program." -- \
  cli_on_cable --port "$pty"
# The station says the same, not that no radio answers.
status=0
out=$(cli_on_cable --data-dir "$work/machine" station update --policy newer --port "$pty" \
  --report "$work/busy.csv" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "station on a busy port exits 1, not $status: $out"
grep -qxF "$pty: failed: Failed to connect radio. (The port [$pty] is in use by another program.)" \
  <<<"$out" || fail "station on a busy port: $out"
kill "$lockpid"
wait "$lockpid" 2>/dev/null || true
# A user without the right to open the port: nobody, when the test runs as root.
denied="No permission to open [$pty]. Add your user to the dialout group (sudo usermod -aG \
dialout \$USER, then log in again) or install the cable's udev rule (60-orvik-cable.rules)."
if [ "$(id -u)" -eq 0 ]; then
  guest=$(mktemp -d)
  mkdir -p "$guest/machine/data" "$guest/bin" "$guest/keys"
  cp -r "$build/demo" "$guest/package"
  # The copy is the demo package no longer; its key is named for the run.
  cp "$build/demo-key/orvik-demo.pub" "$guest/keys/"
  cp "$work/machine/data/setup.dat" "$guest/machine/data/"
  cp "$cli" "$guest/bin/"
  chmod -R a+rwX "$guest"
  # The per-machine folder is the guest's own, as the tool requires.
  chown -R 65534:65534 "$guest/machine"
  chmod -R go-w "$guest/machine"
  chmod 0600 "$pty"
  expect_connect_failure "$guest/machine" "$denied" -- setpriv --reuid=65534 --regid=65534 \
    --clear-groups "$guest/bin/orvik-cli" --package "$guest/package" --trusted-keys "$guest/keys" \
    --port "$pty"
  rm -rf "$guest"
else
  mode=$(stat -c %a "$pty")
  chmod 0000 "$pty"
  expect_connect_failure "$work/machine" "$denied" -- cli_on_cable --port "$pty"
  chmod "$mode" "$pty"
fi
# No cable attached at all (unless this machine has converters of its own).
if ! compgen -G "/sys/class/tty/ttyUSB*" >/dev/null; then
  ORVIK_PORT="" expect_connect_failure "$work/machine" "No programming cable found. Plug in the \
USB programming cable, or name its port with --port." -- cli_on_cable
else
  echo "SKIP: no cable attached: this machine has USB serial converters of its own"
fi
# A port that has gone is no cable: the cable count follows it.
[ "$(cli_on_cable --port "$work/no-such-port" --data-dir "$work/machine" cables)" = 0 ] ||
  fail "a missing port counts as a cable"
[ "$(cli_on_cable --port "$pty" --data-dir "$work/machine" cables)" = 1 ] || fail "pty cable"

# A failure that wrote nothing to the log sends nobody there.
start_sim 4 --model LA26CKX9AR1
status=0
cli_on_cable --port "$pty" --data-dir "$work/machine" info >"$work/out" 2>"$work/err" ||
  status=$?
[ "$status" -eq 1 ] && tail -n1 "$work/out" | grep -qx "The update tool does not support this radio." ||
  fail "unsupported radio: $(cat "$work/out")"
[ ! -s "$work/err" ] || fail "unsupported radio, standard error: $(cat "$work/err")"

# A failed update leaves its report line in err.log.
start_sim 2 --fault mem-write:every:no-ack
status=0
cli_on_cable --port "$pty" --data-dir "$work/machine" update --yes >"$work/out" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "a failed update exits 1, not $status: $(cat "$work/out")"
grep -q "Update failed." "$work/out" || fail "failed update message"
# Below the message: the cause, what to do, and the log.
grep -A4 -x "Update failed." "$work/out" | tail -n4 >"$work/help"
[ "$(cat "$work/help")" = "The update of this radio is not finished (it stopped while restoring \
the personality). Update completes it.
Cause: Error:failed to memWrite block [DYN] (0x020).
Next: keep the radio switched on and on the cable, then run orvik-cli update again; it completes the update.
Details are in $work/machine/log/err.log" ] || fail "after a failed update: $(cat "$work/out")"
grep -q "orvik-cli restore-personality .*\.orvp" "$work/out" || fail "no pointer to the backup"
grep -q "Update radio failed (Model:LA26CKN9AR1,SN:1234ABC5678" "$work/machine/log/err.log" ||
  fail "failure report"
# The per-machine folder holds the owners' personalities and the dealer's password: the tool
# made its folders the user's alone (also the ones this test made first, under umask 022), and
# so the error log, the journal entry and the backups.
mode_is() { # MODE PATH...
  local path
  for path in "${@:2}"; do
    [ "$(stat -c %a "$path")" = "$1" ] || fail "$path has mode $(stat -c %a "$path"), not $1"
  done
}
mode_is 700 "$work/machine" "$work/machine/data" "$work/machine/log" "$work/machine/journal" \
  "$work/machine/backup"
mode_is 600 "$work/machine/log/err.log" "$work/machine/log/history.jsonl" \
  "$work/machine/journal/"*.journal "$work/machine/backup/"*.orvp

# Writing the saved personality back asks first, as the window does; --yes answers for it.
backup=$(grep -o "orvik-cli restore-personality .*\.orvp" "$work/out" | head -n1)
backup=${backup#orvik-cli restore-personality }
start_sim 3
status=0
cli_on_cable --port "$pty" --data-dir "$work/machine" restore-personality "$backup" </dev/null \
  >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 3 ] || fail "a declined restore exits 3, not $status"
grep -q "^to the radio? What the radio holds now is replaced." "$work/err" ||
  fail "the restore asks first: $(cat "$work/err")"
out=$(cli_on_cable --port "$pty" --data-dir "$work/machine" restore-personality --yes "$backup" \
  2>/dev/null)
tail -n1 <<<"$out" | grep -qx "The radio's personality was restored." || fail "restore: $out"

# The console protocol against a headless station.
socket="$work/console"
mkfifo "$work/serve.err"
"$cli" --simulate --data-dir "$work/sim" --console-socket "$socket" serve 2>"$work/serve.err" &
firstserve=$!
pids+=($firstserve)
exec {servefd}<"$work/serve.err"
read -r -t 10 -u "$servefd" line || fail "serve did not start"
grep -q "^Listening on" <<<"$line" || fail "serve: $line"
out=$("$cli" --console-socket "$socket" console enter) || fail "enter: $out"
grep -q "^WM_TOOL_UPDATE_ENTER_TEST_MODE [0-9]* 8$" <<<"$out" || fail "enter ack: $out"
out=$("$cli" --console-socket "$socket" console start) || fail "start: $out"
grep -qx "WM_TOOL_UPDATE_END 8 1" <<<"$out" || fail "start end: $out"
out=$("$cli" --console-socket "$socket" console exit) || fail "exit: $out"
grep -qx "ANSWER 1" <<<"$out" || fail "exit answer: $out"

# SIGTERM to a headless station in the middle of an update: the update stops at its next safe
# point and is reported to the console, the station ends, and the next update completes it.
kill -TERM "$firstserve"
wait "$firstserve" || fail "serve after SIGTERM when idle exits 0"
start_sim 5 --verbose
exec {requestsfd}< <(exec tail -n +1 -F "$work/sim5.err" 2>/dev/null </dev/null >&1)
pids+=($!)
socket2="$work/console2"
mkfifo "$work/serve2.err"
"$cli" --package "$build/demo" --port "$pty" --data-dir "$work/served" \
  --console-socket "$socket2" serve 2>"$work/serve2.err" &
servepid=$!
pids+=($servepid)
exec {serve2fd}<"$work/serve2.err"
read -r -t 10 -u "$serve2fd" line || fail "the second serve did not start"
"$cli" --console-socket "$socket2" console enter >/dev/null || fail "enter"
"$cli" --console-socket "$socket2" console start >"$work/start2.out" &
startpid=$!
found=""
while read -r -t 60 -u "$requestsfd" request; do
  if [[ "$request" == erase-flash:* ]]; then found=yes; break; fi
done
[ -n "$found" ] || fail "the served update did not erase"
kill -TERM "$servepid"
wait "$startpid" || true
grep -qx "WM_TOOL_UPDATE_END 8 0" "$work/start2.out" || fail "served stop: $(cat "$work/start2.out")"
status=0
wait "$servepid" || status=$?
[ "$status" -eq 0 ] || fail "serve after SIGTERM exits 0, not $status"
grep -q "stopped at a safe point" "$work/served/log/history.jsonl" ||
  fail "the stop is not in the history"
out=$(cli_on_cable --port "$pty" --data-dir "$work/served" update --yes 2>&1) ||
  fail "completing the served update: $out"
grep -q "was interrupted" <<<"$out" || fail "the served update was not completed: $out"
echo "ok"
