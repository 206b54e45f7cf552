#!/usr/bin/env bash
# Checks a Debian package of the tool: the desktop entry and the metainfo validate, lintian
# finds no error, the files beside the tool (udev rule, manual pages, completion, icons, keypad
# stand-in) are there with their modes, and the tool unpacked into a scratch root updates the
# simulated radio from its demo package, while a real run there looks for the region's package
# in data/ only. With --key, the vendor's public key must be installed in keys/ and the region's
# package, when there is one, verify with it.
#
#   scripts/check-package.sh FILE.deb [--key FILE.pub]
set -euo pipefail
deb=$(realpath "$1")
key=""
if [ "${2:-}" = "--key" ]; then
  key=$(realpath "$3")
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

version=$(dpkg-deb -f "$deb" Version)
echo "-- $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
root=$scratch/root
dpkg -x "$deb" "$root"
tool=/opt/orvik-update-tool

echo "-- desktop-file-validate, appstreamcli validate"
desktop-file-validate "$root/usr/share/applications/orvik-update.desktop" \
  "$root/usr/share/applications/orvik-update-simulated.desktop"
grep -qx "Exec=orvik-update --simulate" "$root/usr/share/applications/orvik-update-simulated.desktop" ||
  fail "the simulated radio's desktop entry does not start orvik-update --simulate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb"

echo "-- the package's files"
# What the package must hold, with the modes dpkg will give them: the udev rule that hands the
# cable to the user, the manual pages, the completion, the icons, and a keypad boot-loader
# stand-in that can be run.
contents=$(dpkg-deb -c "$deb")
has() { # MODE PATH
  grep -qE "^$1 [^ ]+ +[0-9]+ [0-9-]+ [0-9:]+ \.$2\$" <<<"$contents" ||
    fail "the package has no $2 with mode $1: $(grep -F "$2" <<<"$contents" || echo none)"
}
has -rw-r--r-- /usr/lib/udev/rules.d/60-orvik-cable.rules
for program in orvik-update orvik-cli orvik-radio-sim orvik-pack; do
  has -rw-r--r-- "/usr/share/man/man1/$program.1.gz"
  gzip -t "$root/usr/share/man/man1/$program.1.gz" || fail "$program.1.gz is not gzip"
done
has -rw-r--r-- /usr/share/bash-completion/completions/orvik-cli
bash -n "$root/usr/share/bash-completion/completions/orvik-cli" || fail "the completion is not bash"
has -rw-r--r-- /usr/share/icons/hicolor/scalable/apps/orvik-update.svg
for size in 16 22 24 32 48 64 128 256; do
  icon=/usr/share/icons/hicolor/${size}x${size}/apps/orvik-update.png
  has -rw-r--r-- "$icon"
  file -b "$root$icon" | grep -q "PNG image data, $size x $size," ||
    fail "$icon is not a $size x $size PNG: $(file -b "$root$icon")"
done
has -rwxr-xr-x "$tool/driver/blhost.sh"
# The stand-in runs, and fails with a reason: it never passes for a programmed keypad.
status=0
"$root$tool/driver/blhost.sh" COM1 "$root$tool/driver/Keypad_Firmware.bin" >"$scratch/out" 2>&1 ||
  status=$?
[ "$status" -ne 2 ] && [ "$status" -ne 126 ] && [ "$status" -ne 127 ] && [ -s "$scratch/out" ] ||
  fail "the keypad stand-in: status $status, $(cat "$scratch/out")"

echo "-- the unpacked tool"
# A home of its own: nothing is written to this machine's per-machine folder.
export HOME=$scratch/home XDG_DATA_HOME=$scratch/home/.local/share
export XDG_RUNTIME_DIR=$scratch/run ORVIK_RUNTIME_DIR=$scratch/run
unset ORVIK_DATA_DIR ORVIK_PORT
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
machine="$XDG_DATA_HOME/Corvane Solutions/Orvik Update Tool"
simulated="$XDG_DATA_HOME/Corvane Solutions/Orvik Update Tool (simulated radio)"

for program in orvik-update orvik-cli orvik-radio-sim orvik-pack; do
  [ "$(readlink "$root/usr/bin/$program")" = "$tool/bin/$program" ] ||
    fail "/usr/bin/$program does not lead to $tool/bin/$program"
  shown=$("$root$tool/bin/$program" --version)
  [ "$shown" = "$program $version" ] || fail "$program --version says '$shown', not $version"
done

out=$("$root$tool/bin/orvik-cli" --simulate update --yes 2>&1) || fail "simulated update: $out"
tail -n1 <<<"$out" | grep -qx "Update successful." || fail "simulated update: $out"
[ -f "$simulated/log/history.jsonl" ] || fail "no history in the simulated machine's folder"
[ ! -e "$machine" ] || fail "the simulated radio wrote into the real machine's folder"
echo "$out" | tail -n 3

echo "-- the user's manual"
manual=$root$tool/lang/en_us.html
[ -f "$manual" ] || fail "no $tool/lang/en_us.html"
for picture in $(grep -o 'src="[^"]*"' "$manual" | sed -e 's/^src="//' -e 's/"$//'); do
  [ -f "$root$tool/lang/$picture" ] || fail "the manual shows $picture, which is not installed"
done

# The demo package is for the simulated radio only: a real run takes data/, which holds the
# region's package when the packager gave one and nothing otherwise.
if [ -e "$root$tool/data/config.xml" ]; then
  [ -f "$root$tool/data/setup.dat" ] || fail "data/ holds a package without its setup file"
  # The first start on a cable gives the machine's folder the installation's setup file.
  "$root$tool/bin/orvik-cli" --port "$scratch/no-cable" info >"$scratch/out" 2>&1 || true
  cmp -s "$root$tool/data/setup.dat" "$machine/data/setup.dat" ||
    fail "the first start did not copy the setup file: $(cat "$scratch/out")"
  echo "data/ holds the region's package and setup file; a first start copies the setup file"
else
  [ -z "$(ls -A "$root$tool/data")" ] || fail "data/ holds files but no config.xml"
  status=0
  "$root$tool/bin/orvik-cli" --port "$scratch/no-cable" info >"$scratch/out" 2>&1 || status=$?
  [ "$status" -eq 1 ] || fail "a real run without a package exits 1, not $status"
  grep -qF "$root$tool/data/config.xml" "$machine/log/err.log" ||
    fail "a real run did not look for data/config.xml: $(cat "$machine/log/err.log")"
  # A new user is told where the package goes and how to try the simulated radio, not to
  # re-install.
  grep -qF "No update package is installed: $root$tool/data holds no config.xml." "$scratch/out" ||
    fail "a real run without a package says: $(cat "$scratch/out")"
  ! grep -q "re-install" "$scratch/out" || fail "a real run without a package says re-install"
  echo "data/ is empty; a real run looks for its package there and finds none"
fi
echo "-- the trusted keys"
installed=$root$tool/keys
if [ -n "$key" ]; then
  cmp -s "$key" "$installed/$(basename "$key")" ||
    fail "the vendor's key $(basename "$key") is not installed in $tool/keys/"
  if [ -e "$root$tool/data/config.xml" ]; then
    "$root$tool/bin/orvik-pack" verify "$root$tool/data" --key "$key" ||
      fail "the region's package does not verify with the vendor's key"
  fi
  echo "the vendor's key is in $tool/keys/"
else
  [ -z "$(ls -A "$installed" 2>/dev/null)" ] || fail "keys/ holds keys nobody named"
  echo "no vendor key; the tool trusts only what /etc/orvik-update-tool/keys/ holds"
fi
# The demo key comes without its secret half, and the demo package verifies with it.
[ -f "$root$tool/demo-key/orvik-demo.pub" ] || fail "no demo-key/orvik-demo.pub"
[ -z "$(find "$root" -name '*.key')" ] || fail "a secret key is in the package: $(find "$root" -name '*.key')"
"$root$tool/bin/orvik-pack" verify "$root$tool/demo" --key "$root$tool/demo-key/orvik-demo.pub" >/dev/null ||
  fail "the demo package does not verify with the demo key"
echo "ok"
