#!/bin/sh
# STAND-IN for the keypad boot-loader script. It programs nothing and always fails.
#
# The vendor's keypad boot-loader script goes here, as driver/blhost.sh below the tool's base
# folder (the folder that holds bin/ and data/); replace this file with it and keep it
# executable. The tool starts it (no shell in between) as
#
#   blhost.sh COM<n> <firmware file>
#
# with the keypad firmware file as one argument, after it has put the radio into boot-load
# mode and closed the cable's port, and waits a fixed time (105 s for keypad kind 1, 235 s
# otherwise). Exit code 2 means the keypad was updated; any other exit code, or a script still
# running when the time is over, means it was not (the script is then stopped). The last lines
# it prints on standard output or error are shown to the user when it fails.
#
# The port: COM<n> stands for /dev/ttyUSB<n>, the programming cable's converter. The tool also
# sets ORVIK_CABLE_DEVICE to the device file of the cable it closed for the script, and that
# wins: with the --port option the cable can be another device (a pseudo-terminal /dev/pts/<n>
# gives COM<n>, a link such as /dev/serial/by-id/...-port0 the number of the device it points
# to), so a script opens "$ORVIK_CABLE_DEVICE" when it is set and not empty, else
# /dev/ttyUSB<n>.
#
# A stand-in that reported success would let a keypad update pass without programming it.

script_dir=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
echo "No keypad boot-loader is installed: put the vendor's keypad boot-loader script at" \
  "$script_dir/blhost.sh." >&2
exit 1
