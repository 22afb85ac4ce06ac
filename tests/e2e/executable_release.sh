#!/bin/bash
# The shipped executable: small and stripped with its symbols kept apart, no iostreams
# in it, its version information as Windows reads it, and signed with osslsigncode as
# the README says, with a throw-away certificate, then verified.
# Usage: executable_release.sh <build-dir> <source-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
exe=$build/MorvantisSetup.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" | head -n 1; }

echo "== size and symbols"
size=$(stat -c %s "$exe")
resources=$((0x$(x86_64-w64-mingw32-objdump -h "$exe" | awk '$2 == ".rsrc" { print $3 }')))
echo "MorvantisSetup.exe: $size bytes, of which resources $resources, the rest $((size - resources))"
if [ "$(cache_value MORVANTIS_STRIP)" = ON ]; then
  [ "$size" -le 1400000 ] || fail "the executable is $size bytes, more than 1.4 MB"
  # Listings are read whole before they are searched: under pipefail, grep -q leaving a
  # long listing early would fail the pipe with the lister's broken pipe.
  grep -q "no symbols" <<<"$(x86_64-w64-mingw32-nm "$exe" 2>&1)" || fail "the executable still has its symbol table"
  grep -q '\.gnu_debuglink' <<<"$(x86_64-w64-mingw32-objdump -h "$exe")" || fail "no link to the symbols file"
  grep -q ' T wWinMain$' <<<"$(x86_64-w64-mingw32-nm -C "$build/MorvantisSetup.debug")" ||
    fail "MorvantisSetup.debug does not hold the symbols"
fi
symbols=$(x86_64-w64-mingw32-nm -C "$build/MorvantisSetup.debug" 2>/dev/null || x86_64-w64-mingw32-nm -C "$exe")
if grep -E 'std::(basic_ios|basic_ostream|basic_istream|locale::locale|ios_base::Init)' <<<"$symbols" | head -3 | grep -q .; then
  fail "iostreams or locale machinery is linked in"
fi
# The runtime's demangler and the wide printf engine are 56 KB that nothing needs.
if grep -E ' (__cxa_demangle|__mingw_wpformat)$' <<<"$symbols" | head -2 | grep -q .; then
  fail "the demangler or the wide printf engine is linked in: $(grep -E ' (__cxa_demangle|__mingw_wpformat)$' <<<"$symbols" | tr '\n' ' ')"
fi

echo "== version information"
(cd "$build" && "$source/tools/wine-run" test-programs/version_probe.exe MorvantisSetup.exe | tr -d "\r") >"$work/version.txt" ||
  fail "no version information"
number=$(cache_value MORVANTIS_BUILD_NUMBER)
expect() { grep -qxF -- "$1" "$work/version.txt" || fail "no \"$1\" in: $(cat "$work/version.txt")"; }
expect "file=9.5.0.$number"
expect "product=9.5.0.0"
for block in 080404b0:CHS 040404b0:CHT 040904b0:ENU; do
  expect "translation=${block%%:*}"
  expect "${block%%:*}.CompanyName=Harkel Information"
  expect "${block%%:*}.ProductName=Morvantis v9.5"
  expect "${block%%:*}.ProductVersion=9.5"
  expect "${block%%:*}.FileVersion=9.5.0.$number"
  expect "${block%%:*}.Comments=$(cache_value "MORVANTIS_DISTRIBUTOR_${block##*:}")"
done

echo "== signing with osslsigncode (throw-away certificate), as in the README"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out distributor-chain.pem -days 2 \
  -subj "/CN=Throw-away Distributor/O=Morvantis tests" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
echo "throw-away-password" >pfx-password.txt
openssl pkcs12 -export -inkey key.pem -in distributor-chain.pem -out distributor.pfx -passout file:pfx-password.txt
cp "$exe" MorvantisSetup.exe
osslsigncode sign -pkcs12 distributor.pfx -readpass pfx-password.txt \
  -n "Morvantis v9.5" -i https://distributor.example.com \
  -in MorvantisSetup.exe -out MorvantisSetup-signed.exe >sign.out 2>&1 || fail "signing: $(cat sign.out)"
osslsigncode verify -CAfile distributor-chain.pem -in MorvantisSetup-signed.exe >verify.out 2>&1 ||
  fail "verifying: $(cat verify.out)"
grep -q "Signature verification: ok" verify.out || fail "verify: $(cat verify.out)"
# A byte changed after signing breaks the signature.
cp MorvantisSetup-signed.exe tampered.exe
printf 'X' | dd of=tampered.exe bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile distributor-chain.pem -in tampered.exe >tampered.out 2>&1; then
  fail "a changed executable still verifies"
fi
# The signed program still runs and keeps its version information.
grep -qx "file=9.5.0.$number" <<<"$("$source/tools/wine-run" "$build/test-programs/version_probe.exe" MorvantisSetup-signed.exe | tr -d "\r")" ||
  fail "the signed executable lost its version information"
echo "PASS"
