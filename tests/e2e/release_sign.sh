#!/bin/bash
# `tools/release sign`: the list of a release's objects with their SHA-256 and its
# signature, as openssl and sha256sum read them back; bad keys and folders refused with a
# clear message and nothing written. Usage: release_sign.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
python=/usr/bin/python3
release="$python $source/tools/release"
keys=$source/tools/release-keys
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$python" "$source/tools/make_sample_release.py" --standin "$build/standin" --out "$work/store" >/dev/null
prefix=$work/store/9.5MOrvantisIE

echo "== a signed release: every object listed, the list signed"
$release sign "$work/store" --key "$keys/DEMO-ONLY-release-private.pem" --public "$keys/DEMO-ONLY-release-public.pem" >/dev/null
openssl dgst -sha256 -verify "$keys/DEMO-ONLY-release-public.pem" -signature "$prefix/release.sha256.sig" \
  "$prefix/release.sha256" >/dev/null || fail "openssl does not verify the signature"
(cd "$work/store" && sha256sum --quiet --strict -c 9.5MOrvantisIE/release.sha256) || fail "sha256sum -c"
listed=$(cut -c67- "$prefix/release.sha256")
expected=$(cd "$work/store" && find 9.5MOrvantisIE -type f ! -name 'release.sha256*' | LC_ALL=C sort)
[ "$listed" = "$expected" ] || fail "the list is not every object: $listed"
grep -qx '9.5MOrvantisIE/summary.ini' <<<"$listed" || fail "summary.ini not listed"
grep -qx '9.5MOrvantisIE/CspAccessApi.StockInfo.pub.zip' <<<"$listed" || fail "the stock package not listed"
grep -qvE '^[0-9a-f]{64}  9\.5MOrvantisIE/' "$prefix/release.sha256" && fail "a line not in sha256sum form"

echo "== signing again after a change lists the new object"
printf 'changed' >"$prefix/base.zip"
$release sign "$work/store" --key "$keys/DEMO-ONLY-release-private.pem" >/dev/null
grep -q "^$(sha256sum "$prefix/base.zip" | cut -c1-64)  9.5MOrvantisIE/base.zip$" "$prefix/release.sha256" || fail "stale line"

echo "== bad input: a clear error and nothing written"
before=$(sha256sum "$prefix"/release.sha256*)
openssl ecparam -genkey -name prime256v1 -noout -out "$work/other.pem" 2>/dev/null
openssl ecparam -genkey -name secp384r1 -noout -out "$work/p384.pem" 2>/dev/null
expect_refusal() {  # MESSAGE ARGS...
  local message=$1
  shift
  if $release sign "$@" >/dev/null 2>"$work/err"; then fail "accepted: $*"; fi
  grep -q -- "$message" "$work/err" || fail "no clear message for $*: $(cat "$work/err")"
  [ "$before" = "$(sha256sum "$prefix"/release.sha256*)" ] || fail "a refused run changed the list: $*"
}
expect_refusal "is not the private half of" "$work/store" --key "$work/other.pem" --public "$keys/DEMO-ONLY-release-public.pem"
expect_refusal "not an uncompressed ECDSA P-256" "$work/store" --key "$work/p384.pem"
expect_refusal "openssl pkey failed" "$work/store" --key "$keys/DEMO-ONLY-release-public.pem"
expect_refusal "holds no summary.ini" "$prefix" --key "$keys/DEMO-ONLY-release-private.pem"
echo "PASS"
