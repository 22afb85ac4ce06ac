#!/bin/bash
# tools/release from a distributor's side: build a release from folders, sign it, publish
# it to the local store with the write key, install from it for real, then check it and
# each kind of broken release. Usage: release_tool.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
release=$source/tools/release
samples=$source/tools/sample-release
work=$(mktemp -d)
store_pid=""
cleanup() {
  [ -n "$store_pid" ] && kill "$store_pid" 2>/dev/null && wait "$store_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
prefix=9.5MOrvantisIE
objects=$work/store/$prefix

echo "== build: folders to packages and manifest lines; bad input refused"
cp -r "$samples/base" "$work/base"
cp "$build/standin/terminal.exe" "$work/base/morvantis v9.5.exe"
cp "$build/standin/uninstall.exe" "$work/base/uninstall.exe"
"$release" build "$work/rel" --code 602731 --code 611502 --base "$work/base" --config "$samples/config" \
  --fix 9.5.26.0302="$samples/fix" --quant quant-2026.03="$samples/quant" --stock 20260302="$samples/stock" \
  --cfg-time 1772443800 >/dev/null
# A later build for one code updates its lines only, reusing the packages already built.
"$release" build "$work/rel" --code 611502 --fix 9.5.26.0302 >/dev/null
manifest=$(tr -d '\r' <"$work/rel/$prefix/summary.ini")
grep -qx '602731=quant-2026.03' <<<"$manifest" || fail "quant line of 602731 lost: $manifest"
grep -q '^611502=quant' <<<"$manifest" && fail "quant line of 611502 kept: $manifest"
python3 - "$work/rel/$prefix/base.zip" <<'EOF' || fail "base.zip is not a Windows-style zip"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    infos = {i.filename.encode("cp437").decode("gbk"): i for i in z.infolist()}
    assert "帮助/" in infos and infos["帮助/"].external_attr == 0x10, sorted(infos)
    assert "帮助/使用说明.txt" in infos and not infos["帮助/使用说明.txt"].flag_bits & 0x800
    assert all(i.create_system == 0 for i in infos.values())  # MS-DOS
EOF
before=$(cd "$work/rel" && find . -type f | sort | xargs sha256sum)
for bad in "--code 12345 --fix 9.5.26.0302" "--code 602731 --fix CON" "--code 602731 --fix ../up" \
           "--code 602731 --fix 9.5.26.0302 --quant missing-2026"; do
  if "$release" build "$work/rel" $bad 2>"$work/err"; then fail "build accepted $bad"; fi
  [ -s "$work/err" ] || fail "build refused $bad without saying why"
done
[ "$before" = "$(cd "$work/rel" && find . -type f | sort | xargs sha256sum)" ] || fail "a refused build changed the release"

echo "== sign (release.sha256 over summary.ini and every package, ECDSA P-256)"
# The demonstration key: the build under test is keyed to it (tools/test-all), so the
# installation below checks this signature.
cp "$source/tools/release-keys/DEMO-ONLY-release-private.pem" "$work/release-key.pem"
cp "$source/tools/release-keys/DEMO-ONLY-release-public.pem" "$work/release-pub.pem"
"$release" sign "$work/rel" --key "$work/release-key.pem" >/dev/null || fail "sign"
[ -s "$work/rel/$prefix/release.sha256" ] && [ -s "$work/rel/$prefix/release.sha256.sig" ] || fail "sign wrote nothing"
(cd "$work/rel" && sha256sum --quiet -c "$prefix/release.sha256") || fail "release.sha256 does not match the objects"
openssl dgst -sha256 -verify "$work/release-pub.pem" -signature "$work/rel/$prefix/release.sha256.sig" \
  "$work/rel/$prefix/release.sha256" >/dev/null || fail "openssl does not verify the signature"

echo "== publish with the write key; the installers' read key may not write"
mkdir -p "$work/store"
echo '{}' >"$work/faults.json"
python3 "$source/tools/oss_store.py" --root "$work/store" --port 0 --port-file "$work/port" --faults "$work/faults.json" \
  --write-key-id WriterKeyIdForTests1 --write-key-secret WriterSecretForTests1 >"$work/store.log" 2>&1 &
store_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
endpoint=127.0.0.1:$(cat "$work/port")
if "$release" publish "$work/rel" --endpoint "$endpoint" 2>"$work/err"; then fail "publish without a write key"; fi
grep -q MORVANTIS_PUBLISH_KEY_ID "$work/err" || fail "publish without a key: $(cat "$work/err")"
if MORVANTIS_PUBLISH_KEY_ID=DemoAccessKeyIdMorvant01 MORVANTIS_PUBLISH_KEY_SECRET=DemoSecretForTheLocalStore2026 \
   "$release" publish "$work/rel" --endpoint "$endpoint" 2>"$work/err"; then fail "the read key could publish"; fi
grep -q AccessDenied "$work/err" || fail "read key: $(cat "$work/err")"
[ -z "$(ls -A "$work/store")" ] || fail "a refused publish left objects"
MORVANTIS_PUBLISH_KEY_ID=WriterKeyIdForTests1 MORVANTIS_PUBLISH_KEY_SECRET=WriterSecretForTests1 \
  "$release" publish "$work/rel" --endpoint "$endpoint" >"$work/publish.out"
tail -n 1 "$work/publish.out" | grep -q '^publish: 8 objects' || fail "publish: $(cat "$work/publish.out")"
diff -r "$work/rel/$prefix" "$objects" || fail "the store does not hold the release"

echo "== a real installation from the published release"
root_name=release-tool-test
rm -rf "$WINEPREFIX/drive_c/$root_name"
(cd "$build" && "$source/tools/wine-run" test-programs/install_driver.exe --root "C:\\$root_name" \
   --endpoint "$endpoint" >"$work/install.out") || { iconv -f GBK -t UTF-8 "$work/install.out"; fail "installation"; }
installed=$WINEPREFIX/drive_c/$root_name/MOrvantis602731v9.5
[ -f "$installed/morvantis v9.5.exe" ] || fail "no terminal in $installed"
[ -n "$(ls -A "$installed/Server/config/BaseData" 2>/dev/null)" ] || fail "securities-information package not unpacked"
tr -d '\r' <"$installed/update.ini" | grep -qx 'cur=9.5.26.0302' || fail "update.ini: $(cat "$installed/update.ini")"
"$installed/uninstall.exe" >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX/drive_c/$root_name"

check() {  # check [options...]: prints the findings, returns check's exit code
  "$release" check --endpoint "$endpoint" --build "$build" --code 602731 "$@" 2>"$work/check.err"
}
expect_finding() {  # expect_finding PATTERN [options...]
  local pattern=$1 status=0
  shift
  check "$@" >"$work/findings" || status=$?
  [ "$status" = 1 ] || fail "check exit code $status for '$pattern': $(cat "$work/findings" "$work/check.err")"
  grep -q -- "$pattern" "$work/findings" || fail "no '$pattern' in: $(cat "$work/findings")"
}

echo "== check: a good release holds, signature included"
check --public-key "$work/release-pub.pem" >"$work/findings" || fail "good release: $(cat "$work/findings" "$work/check.err")"
[ ! -s "$work/findings" ] || fail "findings on a good release: $(cat "$work/findings")"

echo "== check: each kind of bad release is named"
mv "$objects/fix/9.5.26.0302.zip" "$work/fix.zip"
expect_finding "^missing object: $prefix/fix/9.5.26.0302.zip"
mv "$work/fix.zip" "$objects/fix/9.5.26.0302.zip"

echo "{\"$prefix/base.zip\": [{\"action\": \"bad_crc\"}]}" >"$work/faults.json"
expect_finding "^CRC-64 mismatch: $prefix/base.zip"
echo '{}' >"$work/faults.json"

cp "$objects/summary.ini" "$work/summary.ini"
sed -i 's/^602731=9.5.26.0302/602731=COM1.zip/' "$objects/summary.ini"
expect_finding "^bad manifest value: \[fixstamp\] 602731=COM1.zip: a device name"
cp "$work/summary.ini" "$objects/summary.ini"

cp "$objects/quant/quant-2026.03.zip" "$work/quant.zip"
python3 - "$source/tools" "$objects/quant/quant-2026.03.zip" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from release_tool._zipwriter import ZipWriter
writer = ZipWriter(sys.argv[2], (2026, 3, 2, 9, 30, 0))
writer.add_file("quant/ok.qs", b"ok")
writer.add_file("..\\..\\evil.txt", b"outside")
writer.close()
EOF
expect_finding "^unsafe archive: $prefix/quant/quant-2026.03.zip"
expect_finding "^bad signature: $prefix/quant/quant-2026.03.zip does not match" --public-key "$work/release-pub.pem"
cp "$work/quant.zip" "$objects/quant/quant-2026.03.zip"

cp "$objects/config.zip" "$work/config.zip"
python3 - "$source/tools" "$objects/config.zip" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from release_tool._zipwriter import ZipWriter
writer = ZipWriter(sys.argv[2], (2026, 3, 2, 9, 30, 0))
writer.add_file("config/" + "长路径" * 40 + ".ini", b"[x]\r\n")
writer.close()
EOF
expect_finding "^path too long: $prefix/config.zip: config"
cp "$work/config.zip" "$objects/config.zip"

printf 'x' >>"$objects/release.sha256"
expect_finding "^bad signature: $prefix/release.sha256.sig does not verify" --public-key "$work/release-pub.pem"
cp "$work/rel/$prefix/release.sha256" "$objects/release.sha256"

check --public-key "$work/release-pub.pem" >"$work/findings" || fail "restored release: $(cat "$work/findings")"
echo "PASS"
