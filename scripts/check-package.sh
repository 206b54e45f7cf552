#!/usr/bin/env bash
# Checks a Debian package of the tool: the desktop entry and the metainfo validate, lintian
# finds no error, and the tool unpacked into a scratch root updates the simulated radio from
# its demo package, while a real run there looks for the region's package in data/ only.
#
#   scripts/check-package.sh FILE.deb
set -euo pipefail
deb=$(realpath "$1")
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
echo "ok"
