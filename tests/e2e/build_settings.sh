#!/bin/bash
# The branded build settings: bad values are refused at configure time with a clear
# message, and the store credentials never appear in clear in the built installer.
# Usage: build_settings.sh <build-dir> <source-dir>
set -u
build=$1 source=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

exe="$build/MorvantisSetup.exe"
[ -f "$exe" ] || { echo "FAIL: $exe not built"; exit 1; }
id=$(sed -n 's/^MORVANTIS_STORE_KEY_ID:STRING=//p' "$build/CMakeCache.txt")
secret=$(sed -n 's/^MORVANTIS_STORE_KEY_SECRET:STRING=//p' "$build/CMakeCache.txt")
for text in "$id" "$secret"; do
  [ -n "$text" ] || fail "no credential in the cache"
  grep -qaF -- "$text" "$exe" && fail "\"$text\" occurs in the executable"
  wide=$(printf '%s' "$text" | iconv -f ascii -t utf-16le | xxd -p | tr -d '\n')
  xxd -p "$exe" | tr -d '\n' | grep -q "$wide" && fail "\"$text\" occurs as UTF-16 in the executable"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# configure_expect_failure <message fragment> <cmake -D arguments...>
configure_expect_failure() {
  local expected=$1; shift
  if cmake -S "$source" -B "$scratch/b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
      -DMORVANTIS_TESTS=OFF "$@" >"$scratch/out" 2>&1; then
    fail "configure accepted $*"
  elif ! tr -s " \n" "  " <"$scratch/out" | grep -q -- "$expected"; then
    fail "configure with $* did not say \"$expected\":"; tail -5 "$scratch/out"
  fi
  rm -rf "$scratch/b"
}
configure_expect_failure "MORVANTIS_PACKAGE_CODE must be six decimal digits" -DMORVANTIS_PACKAGE_CODE=12345
configure_expect_failure "MORVANTIS_PACKAGE_CODE must be six decimal digits" -DMORVANTIS_PACKAGE_CODE=12345a
configure_expect_failure "must hold 54 characters together" -DMORVANTIS_STORE_KEY_SECRET=short
configure_expect_failure "key id must have at least 9" -DMORVANTIS_STORE_KEY_ID=ABCDEFGH \
  -DMORVANTIS_STORE_KEY_SECRET=0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJ
configure_expect_failure "key secret must have at least 6" \
  -DMORVANTIS_STORE_KEY_ID=abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVW -DMORVANTIS_STORE_KEY_SECRET=01234
configure_expect_failure "MORVANTIS_STORE_ENDPOINT must be host" "-DMORVANTIS_STORE_ENDPOINT=ftp://x/y"
configure_expect_failure "MORVANTIS_BUILD_NUMBER must be a number from 0 to 65535" -DMORVANTIS_BUILD_NUMBER=65536
configure_expect_failure "set both, or leave both empty" -DMORVANTIS_STORE_KEY_SECRET=

# Without a key (both parts empty) a build configures for a public-read bucket.
if ! cmake -S "$source" -B "$scratch/anon" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
    -DMORVANTIS_TESTS=OFF -DMORVANTIS_STORE_KEY_ID= -DMORVANTIS_STORE_KEY_SECRET= >"$scratch/out" 2>&1; then
  fail "a build without a key was refused"; tail -5 "$scratch/out"
elif ! grep -q 'MORVANTIS_CREDENTIAL_STORE ""' "$scratch/anon/generated/credential_store.h"; then
  fail "a build without a key carries a credential store"
fi
rm -rf "$scratch/anon"

# A valid branded build configures: another code, a folder prefix, https and a host name.
if ! cmake -S "$source" -B "$scratch/ok" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
    -DMORVANTIS_TESTS=OFF -DMORVANTIS_PACKAGE_CODE=000123 -DMORVANTIS_FOLDER_PREFIX=Acme \
    -DMORVANTIS_STORE_ENDPOINT=https://oss-accelerate.example.com >"$scratch/out" 2>&1; then
  fail "a valid branded configuration was refused"; tail -5 "$scratch/out"
elif ! grep -q '107, "Acme"' "$scratch/ok/generated/strings.rc"; then
  fail "string 107 missing from the branded string table"
fi
grep -q '107' "$build/generated/strings.rc" && fail "string 107 present although no prefix is set"

# Release keys: only an ECDSA P-256 public key in PEM is taken; the demonstration key only
# for a loopback store; plain HTTP beyond loopback only signed or when explicitly allowed.
demo_key=$source/tools/release-keys/DEMO-ONLY-release-public.pem
openssl ecparam -genkey -name prime256v1 -noout -out "$scratch/private.pem" 2>/dev/null
openssl ec -in "$scratch/private.pem" -pubout -out "$scratch/public.pem" 2>/dev/null
openssl ecparam -genkey -name secp384r1 -noout 2>/dev/null | openssl ec -pubout -out "$scratch/p384.pem" 2>/dev/null
printf 'not a key\n' >"$scratch/text.pem"
key_message="MORVANTIS_RELEASE_KEY must be an ECDSA P-256 public key"
configure_expect_failure "$key_message.*no \"-----BEGIN PUBLIC KEY-----\" block" "-DMORVANTIS_RELEASE_KEY=$scratch/text.pem"
configure_expect_failure "$key_message.*holds a private key" "-DMORVANTIS_RELEASE_KEY=$scratch/private.pem"
configure_expect_failure "$key_message.*not an uncompressed ECDSA P-256" "-DMORVANTIS_RELEASE_KEY=$scratch/p384.pem"
configure_expect_failure "$key_message.*cannot be read" "-DMORVANTIS_RELEASE_KEY=$scratch/absent.pem"
configure_expect_failure "is the demonstration key" "-DMORVANTIS_RELEASE_KEY=$demo_key" -DMORVANTIS_STORE_ENDPOINT=https://oss.example.com
configure_expect_failure "is plain HTTP" -DMORVANTIS_STORE_ENDPOINT=oss.example.com:8080
configure_expect_failure "is plain HTTP" -DMORVANTIS_STORE_ENDPOINT=http://10.0.0.5
accepted=0
for settings in "-DMORVANTIS_STORE_ENDPOINT=http://oss.example.com -DMORVANTIS_RELEASE_KEY=$scratch/public.pem" \
                "-DMORVANTIS_STORE_ENDPOINT=oss.example.com -DMORVANTIS_ALLOW_UNSIGNED_HTTP=ON" \
                "-DMORVANTIS_STORE_ENDPOINT=http://localhost:9000 -DMORVANTIS_RELEASE_KEY=$demo_key"; do
  # shellcheck disable=SC2086  # the settings are split on purpose
  if cmake -S "$source" -B "$scratch/key" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
      -DMORVANTIS_TESTS=OFF $settings >"$scratch/out" 2>&1; then
    accepted=$((accepted + 1))
  else
    fail "refused: $settings"; tail -5 "$scratch/out"
  fi
  rm -rf "$scratch/key"
done
# A keyed build compiles its key's point in; an unkeyed one has none.
key=$(sed -n 's/^MORVANTIS_RELEASE_KEY:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -n "$key" ]; then
  point=$(/usr/bin/python3 "$source/tools/release_public_key.py" "$key") || fail "the build's key cannot be read"
  sed -n 's/^#define MORVANTIS_RELEASE_KEY_BYTES //p' "$build/generated/release_key.h" | sed 's/0x//g; s/,//g' |
    grep -qx "$point" || fail "the release key's point is not the one compiled in"
else
  grep -q 'MORVANTIS_RELEASE_KEY_BYTES $' "$build/generated/release_key.h" || fail "an unkeyed build has key bytes"
fi

echo "$((7 + 6 + 7 + 3 + 1 - failures)) passed, $failures failed"
[ $failures -eq 0 ]
