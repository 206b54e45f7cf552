#!/usr/bin/env bash
# orvik-cli's own words, exactly: the help, the questions and a question answered No, the
# results in JSON, the dealer login and logout, a failed update's report, and a console session
# against a headless station.
set -euo pipefail
cli=$1
sim=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export ORVIK_RUNTIME_DIR="$work/run"
mkdir -p "$ORVIK_RUNTIME_DIR"

failed=0
# expect WHAT EXPECTED ACTUAL
expect() {
  if [ "$2" != "$3" ]; then
    echo "FAILED: $1" >&2
    diff <(echo "$2") <(echo "$3") >&2 || true
    failed=1
  fi
}
# run ARGS...: standard output, standard error and exit status in $out, $err and $status.
run() {
  status=0
  "$cli" "$@" >"$work/out" 2>"$work/err" || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}
machine=(--simulate --data-dir "$work/sim")
# The file names of backups carry the time.
backups() { sed -E "s|$work/sim/backup/[^\"]*\\.orvp|BACKUP|g"; }

# The top help ends with the exit codes; every command's help with an example.
expect "the exit codes in the help" "Exit status:
  0  done; the result is information
  1  an error or a warning (details are in the error log)
  2  a usage error
  3  a question was answered No; the radio was not changed

The options may also follow the command. Example: orvik-cli update --simulate" \
  "$("$cli" --help | sed -n '/^Exit status:/,$p')"
for command in $("$cli" --help | sed -n '/^Subcommands:/,/^$/p' | grep -oE '^  [a-z][a-z-]*'); do
  "$cli" "$command" --help | grep -qE "^Examples?: orvik-cli $command" ||
    expect "an example in the help of $command" "Example: orvik-cli $command ..." \
      "$("$cli" "$command" --help | tail -n1)"
done

# The tool's options after the command are the same as before it. The demo package is signed
# by the build's own demo key, whose id differs from build to build.
demo_key() { sed -E 's/signed by key [0-9A-F]{16}/signed by key DEMOKEY/'; }
run info "${machine[@]}"
out=$(demo_key <<<"$out")
expect "info, options after the command" "Radio Type: LA26 Series
Regional Code: 00
Model: LA26 Portable
Serial Number: 1234ABC5678
Firmware Version: R01.02.03
Keypad Version: R01.00.00
Codeplug Version: R01.02.00
Unit Private ID: 1234567
Update Package: signed by key DEMOKEY (\"Demo package of the simulated radio, region LACR, \
firmware R01.03.00\")
Successfully get radio information." "$out"
expect "info, options before the command" "$out" "$("$cli" "${machine[@]}" info | demo_key)"

# A question answered No, or not answered at all: the versions, the question, and nothing done.
go_ahead="This will program the radio (Firmware Version: R01.03.00, Codeplug Version: R01.04.00, \
Keypad Firmware Version: R01.00.00). Please do not remove the USB cable, the radio from the \
Single Unit Charger, or turn-off radio during the programming process since this can damage or \
corrupt the radio software.

Do you want to continue?"
question="Firmware Version: R01.02.03 → R01.03.00
Codeplug Version: R01.02.00 → R01.04.00
Keypad Version: R01.00.00 (unchanged)
$go_ahead
[y/N] "
for answer in n ""; do
  status=0
  echo "$answer" | "$cli" update "${machine[@]}" >"$work/out" 2>"$work/err" || status=$?
  expect "declined ($answer): status" 3 "$status"
  expect "declined ($answer): result" "Update cancelled; the radio was not changed." \
    "$(cat "$work/out")"
  expect "declined ($answer): question" "$question" "$(cat "$work/err")"
done
run update --json "${machine[@]}" </dev/null
expect "declined, in JSON" \
  '{"Result":"Update cancelled; the radio was not changed.","Style":"cancelled","Exit":3}' "$out"

# JSON from every command.
run update --yes --json "${machine[@]}"
expect "update in JSON" '{"Radio Type":"LA26 Series","Regional Code":"00","Model":"LA26 Portable",'\
'"Serial Number":"1234ABC5678","Firmware Version":"R01.03.00","Keypad Version":"R01.00.00",'\
'"Codeplug Version":"R01.04.00","Unit Private ID":"1234567","Result":"Update successful.",'\
'"Style":"information","Before":{"Firmware Version":"R01.02.03","Codeplug Version":"R01.02.00",'\
'"Keypad Version":"R01.00.00","Serial Number":"1234ABC5678"},"After":{"Firmware Version":'\
'"R01.03.00","Codeplug Version":"R01.04.00","Keypad Version":"R01.00.00","Serial Number":'\
'"1234ABC5678"},"Personality Backup":"BACKUP","Failure Lines":[],"Exit":0}' "$(backups <<<"$out")"
run cables --json "${machine[@]}"
expect "cables in JSON" '{"Cables":1,"Exit":0}' "$out"
run history --json --data-dir "$work/sim"
# The history names the package by the SHA-256 of its SHA256SUMS.
manifest=$(sha256sum <"$(dirname "$cli")/../demo/SHA256SUMS" | cut -d' ' -f1)
expect "history in JSON" '{"History":[{"time":"T","kind":"update","duration_ms":0,"model":'\
'"LA26CKN9AR1","serial_before":"1234ABC5678","serial_after":"1234ABC5678","firmware_before":'\
'"R01.02.03","firmware_after":"R01.03.00","codeplug_before":"R01.02.00","codeplug_after":'\
'"R01.04.00","keypad_before":"R01.00.00","keypad_after":"R01.00.00","package_firmware":'\
'"R01.03.00","package_codeplug":"R01.04.00","package_sha256":"'"$manifest"'",'\
'"keep_personality":true,"result":'\
'"Update successful.","style":"information","errors":"","personality_backup":"BACKUP"}],'\
'"Unfinished":[],"Exit":0}' \
  "$(backups <<<"$out" | sed -E -e 's/"time":"[^"]*"/"time":"T"/' -e 's/"duration_ms":[0-9]+/"duration_ms":0/')"

# The dealer's login from a pipe, and out again.
status=0
echo 1111 | "$cli" login "${machine[@]}" >"$work/out" 2>"$work/err" || status=$?
expect "a wrong password: status" 1 "$status"
expect "a wrong password" "Dealer mode is off." "$(cat "$work/out")"
expect "a wrong password: the prompts" "Password: 
The password is not correct. Please check it!
Password: " "$(cat "$work/err")"
out=$(echo 12345678 | "$cli" login --json "${machine[@]}" 2>"$work/err")
expect "login in JSON" '{"Dealer Mode":true,"Exit":0}' "$out"
expect "login: the prompt" "Password: " "$(cat "$work/err")"
run logout "${machine[@]}"
expect "logout" "Dealer mode is off." "$out"
run serial 123ABCD5678 "${machine[@]}"
expect "no serial number after logout" 1 "$status"
expect "no serial number after logout: why" \
  "Writing a serial number needs a dealer login first (orvik-cli login)." "$err"

# A failed update on a radio served on a pseudo-terminal: its report lines in JSON.
mkfifo "$work/sim.out"
"$sim" --fault mem-write:every:no-ack >"$work/sim.out" &
pids+=($!)
exec {simfd}<"$work/sim.out"
read -r -t 30 -u "$simfd" pty || { echo "FAILED: the simulator printed no pty" >&2; exit 1; }
build=$(cd "$(dirname "$cli")/.." && pwd)
mkdir -p "$work/cable/data"
cp "$build/demo/setup.dat" "$work/cable/data/"
run update --yes --json --port "$pty" --package "$build/demo" --data-dir "$work/cable"
expect "a failed update: status" 1 "$status"
expect "a failed update: its report lines in JSON" '"Failure Lines":["Restore user-infor.",'\
'"Error:failed to memWrite block [DYN] (0x020).","Error:failed to do memWrite after 5 trials. '\
'Address is 0, length is 220, the status is -1, the last OPC is 96."],"Exit":1}' \
  "$(grep -o '"Failure Lines":.*' <<<"$out")"
expect "a failed update: its backup in JSON" 1 \
  "$(grep -c "\"Personality Backup\":\"$work/cable/backup/[^\"]*\.orvp\"" <<<"$out")"

# A console session against a headless station; test mode ends when the session goes away
# without exit, and outside test mode the station answers every question No.
socket="$work/console"
mkfifo "$work/serve.err"
"$cli" serve "${machine[@]}" --console-socket "$socket" >"$work/serve.out" 2>"$work/serve.err" &
pids+=($!)
exec {servefd}<"$work/serve.err"
# Reads the station's lines up to one that is the given text; the lines before it in $seen.
station_says() {
  seen=""
  local line
  while IFS= read -r -t 60 -u "$servefd" line; do
    [ "$line" = "$1" ] && return 0
    seen+="$line"$'\n'
  done
  echo "FAILED: the station did not say '$1'; it said: $seen" >&2
  exit 1
}
station_says "Listening on $socket"
status=0
printf 'enter\nstart\n' | "$cli" console session --console-socket "$socket" >"$work/out" \
  2>"$work/err" || status=$?
expect "session: status" 0 "$status"
expect "session: the tool's lines" "WM_TOOL_UPDATE_ENTER_TEST_MODE N 8
ANSWER 1
WM_TOOL_UPDATE_END 8 1
ANSWER 1" "$(sed -E 's/^(WM_TOOL_UPDATE_ENTER_TEST_MODE) [0-9]+/\1 N/' "$work/out")"
expect "session: its end" "The session ends without exit; the tool leaves test mode." \
  "$(cat "$work/err")"
station_says "Test mode on: updates run without questions and report to the console."
station_says "Test mode off."
run console start --console-socket "$socket"
expect "start outside test mode: status" 1 "$status"
expect "start outside test mode: answered, nothing run" "ANSWER 1" "$out"
station_says "[y/N] n (nobody answers a station outside test mode)"
expect "the station asked the question" "Firmware Version: R01.03.00 (unchanged)
Codeplug Version: R01.04.00 (unchanged)
Keypad Version: R01.00.00 (unchanged)
$go_ahead
" "$seen"
out=$(printf 'enter\nexit\n' | "$cli" --json console session --console-socket "$socket")
expect "session in JSON" '{"Action":"enter","Lines":["WM_TOOL_UPDATE_ENTER_TEST_MODE N 8",'\
'"ANSWER 1"],"Answer":1,"Exit":0}
{"Action":"exit","Lines":["WM_TOOL_UPDATE_EXIT_TEST_MODE N 8","ANSWER 1"],"Answer":1,"Exit":0}' \
  "$(sed -E 's/(TEST_MODE) [0-9]+ 8/\1 N 8/g' <<<"$out")"

[ "$failed" -eq 0 ] && echo "ok"
exit "$failed"
