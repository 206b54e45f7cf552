#!/usr/bin/env bash
# The installation holds the user's manual where Help looks for it (lang/en_us.html), with every
# picture it shows, and the manual's links within itself all lead somewhere.
#   installed_manual_test.sh BUILD-DIR INSTALL-PREFIX
set -euo pipefail
build=$1
prefix=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR=$scratch cmake --install "$build" >/dev/null
lang=$scratch$prefix/lang
manual=$lang/en_us.html
[ -f "$manual" ] || fail "no $prefix/lang/en_us.html in the installation"
pictures=$(grep -o 'src="[^"]*"' "$manual" | sed -e 's/^src="//' -e 's/"$//')
[ -n "$pictures" ] || fail "the manual shows no pictures of the window"
for picture in $pictures; do
  [ -f "$lang/$picture" ] || fail "the manual shows $picture, which is not installed"
done
for anchor in $(grep -o 'href="#[^"]*"' "$manual" | sed -e 's/^href="#//' -e 's/"$//'); do
  grep -q "id=\"$anchor\"" "$manual" || fail "the manual links to #$anchor, which it lacks"
done
echo "ok"
