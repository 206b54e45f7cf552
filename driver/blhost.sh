#!/bin/sh
# STAND-IN for the keypad boot-loader script.
#
# The vendor's keypad boot-loader script goes here, as driver/blhost.sh below the tool's base
# folder; replace this file with it. The tool starts it (no shell in between) as
#
#   blhost.sh COM<n> <firmware file>
#
# with n the number of the cable's port (/dev/ttyUSB<n>, closed by the tool for the script)
# and the keypad firmware file as one argument, and waits a fixed time. Exit code 2 means the
# keypad was updated; anything else, or still running when the time is over, means it was not.
#
# This stand-in programs nothing: it checks its arguments and the firmware file and exits 2,
# so that the demo and the tests go through the whole keypad update.

if [ "$#" -ne 2 ]; then
  echo "usage: $0 COM<n> <firmware file>" >&2
  exit 1
fi
case "$1" in
  COM) bad_port=1 ;;
  COM*[!0-9]*) bad_port=1 ;;
  COM*) bad_port=0 ;;
  *) bad_port=1 ;;
esac
if [ "$bad_port" -ne 0 ]; then
  echo "$0: not a port: $1" >&2
  exit 1
fi
if [ ! -f "$2" ] || [ ! -r "$2" ] || [ ! -s "$2" ]; then
  echo "$0: no keypad firmware file: $2" >&2
  exit 1
fi
exit 2
