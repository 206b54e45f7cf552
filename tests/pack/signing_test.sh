#!/usr/bin/env bash
# Signed packages with the real minisign tool, both ways: keys and signatures of orvik-pack
# work in minisign and minisign's in the tool; a package signed by hand with sha256sum and
# minisign updates the simulated radio; a changed one is refused; an unsigned one is used with
# a notice when no key is trusted; the build's demo package is signed and its key trusted for
# it alone.
set -euo pipefail
pack=$1
cli=$2
build=$3
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
command -v minisign >/dev/null ||
  fail "minisign is not installed (scripts/install-deps.sh installs Debian's minisign)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export ORVIK_RUNTIME_DIR="$work/run"
# No key of this machine takes part unless a run names it.
mkdir -p "$ORVIK_RUNTIME_DIR" none
export ORVIK_TRUSTED_KEYS="$work/none"

# A machine folder for a simulated run on a package of its own.
machine() {
  mkdir -p "$1/data"
  cp pkg/setup.dat "$1/data/"
}
key_id() { sed -n 's/^untrusted comment: minisign public key //p' "$1"; }
"$pack" demo pkg -q --setup pkg/setup.dat

# orvik-pack's key pair: the secret half private and never printed, both usable by minisign.
mkdir keys
"$pack" keygen --name vendor --out keys >keygen.out
[ "$(stat -c %a keys/vendor.key)" = 600 ] || fail "the secret key is not 0600"
! grep -qF "$(tail -n1 keys/vendor.key)" keygen.out || fail "keygen printed the secret key"
"$pack" sign pkg --key keys/vendor.key >/dev/null
(cd pkg && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS is not sha256sum's format"
(cd pkg && minisign -Vq -m SHA256SUMS -p ../keys/vendor.pub) ||
  fail "minisign does not verify orvik-pack's signature"
minisign -S -m pkg/SHA256SUMS -s keys/vendor.key -t "signed by minisign" >/dev/null ||
  fail "minisign cannot sign with orvik-pack's secret key"
"$pack" verify pkg --key keys/vendor.pub >out
grep -qF '("signed by minisign")' out ||
  fail "orvik-pack does not verify minisign's signature with its own key"

# Signed by hand with minisign's own key (no password), then used by the tool.
minisign -G -W -p hand.pub -s hand.key >/dev/null
mkdir hand trusted
cp pkg/*.kxk pkg/config.xml hand/
(cd hand && sha256sum -- * >SHA256SUMS && minisign -S -m SHA256SUMS -s ../hand.key >/dev/null)
cp hand.pub trusted/
machine m1
status=0
"$cli" --simulate --package hand --data-dir m1 --trusted-keys trusted update --yes >out 2>err ||
  status=$?
[ "$status" -eq 0 ] && grep -qx "Update successful." out ||
  fail "the package signed with minisign was not used: $(cat out err)"
! grep -q "^Note:" err || fail "a verified package got the notice: $(cat err)"
"$cli" --simulate --package hand --data-dir m1 --trusted-keys trusted info >out
grep -qx "Update Package: signed by key $(key_id hand.pub) (\"timestamp:.*\")" out ||
  fail "info does not name minisign's key"
"$pack" sign hand --key hand.key >/dev/null
(cd hand && minisign -Vq -m SHA256SUMS -p ../hand.pub) ||
  fail "minisign does not verify orvik-pack's signature with minisign's key"

# One byte changed after signing: refused at the identity, with its line and a log line.
printf 'x' >>hand/addr_r010300.kxk
machine m2
status=0
"$cli" --simulate --package hand --data-dir m2 --trusted-keys trusted update --yes >out 2>err ||
  status=$?
[ "$status" -eq 1 ] || fail "a changed package exits $status, not 1"
grep -qF "The update package in hand is refused: addr_r010300.kxk changed." out ||
  fail "the refusal does not say what failed: $(cat out)"
grep -qF "Error:the update package [hand] is refused: addr_r010300.kxk changed." m2/log/err.log ||
  fail "no line in err.log"
! "$pack" verify hand --key hand.pub >/dev/null 2>&1 || fail "orvik-pack verify took it"
said=$(ORVIK_TRUSTED_KEYS="$work/trusted" "$pack" verify hand 2>&1 || true)
[ "$said" = "NOT VERIFIED: hand: addr_r010300.kxk changed" ] ||
  fail "orvik-pack verify with the tool's keys: $said"

# No trusted key: the unsigned package works as before, and the run says so once.
mkdir unsigned
cp pkg/*.kxk pkg/config.xml unsigned/
machine m3
"$cli" --simulate --package unsigned --data-dir m3 update --yes >out 2>err ||
  fail "an unsigned package without a trusted key: $(cat out err)"
[ "$(grep -c "^Note: the update package in unsigned is not signed." err)" -eq 1 ] ||
  fail "the notice of an unsigned package: $(cat err)"

# The build's demo package: signed by the build's key, which is trusted for it alone.
"$pack" verify "$build/demo" --key "$build/demo-key/orvik-demo.pub" >/dev/null ||
  fail "the build's demo package does not verify"
mkdir -p tool/bin tool/demo-key
cp "$cli" tool/bin/
cp -r "$build/demo" tool/demo
cp "$build/demo-key/orvik-demo.pub" tool/demo-key/
tool/bin/orvik-cli --simulate --data-dir sim1 info >out
grep -q "^Update Package: signed by key " out ||
  fail "the demo package is not shown signed"
machine m4
"$cli" --simulate --package tool/demo --data-dir m4 info 2>err >/dev/null
grep -q "^Note: the update package in tool/demo is signed, but no trusted key" err ||
  fail "the demo key was trusted for another package: $(cat err)"
printf 'x' >>tool/demo/fw_lacr_r010300.kxk
status=0
tool/bin/orvik-cli --simulate --data-dir sim2 update --yes >out 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -qF "is refused: fw_lacr_r010300.kxk changed." out ||
  fail "a changed demo package was not refused: $(cat out)"
echo "signing: ok"
