#!/bin/bash
# The sample release: its manifest, its packages unpacked in the installer's order, the
# descriptions tests rely on, repeatable output, the switches, bad input, and the demo
# store serving it. Usage: release_sample.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
python=/usr/bin/python3
make_release=$source/tools/make_sample_release.py
standin=$build/standin
work=$(mktemp -d)
store_pid=""
cleanup() {
  [ -n "$store_pid" ] && kill "$store_pid" 2>/dev/null && wait "$store_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for exe in terminal.exe uninstall.exe; do
  [ -f "$standin/$exe" ] || fail "$standin/$exe is not built"
done

# Unpacks a store's packages as the installer does (base, runtime, config, quant into the
# root, the securities-information package below Server/config/BaseData; GBK names,
# either slash) and lists the files, one relative path a line.
unpack_as_installer() {
  "$python" - "$1" "$2" <<'EOF'
import configparser, os, sys, zipfile
store, target = sys.argv[1], sys.argv[2]
prefix = os.path.join(store, "9.5MOrvantisIE")
summary = configparser.ConfigParser()
summary.read(os.path.join(prefix, "summary.ini"))
packages = [("base.zip", ""), ("fix/%s.zip" % summary["fixstamp"]["602731"], ""), ("config.zip", "")]
if summary.has_option("quant", "602731"):
    packages.append(("quant/%s.zip" % summary["quant"]["602731"], ""))
if summary.has_option("stock", "602731"):
    packages.append(("CspAccessApi.StockInfo.pub.zip", "Server/config/BaseData/"))
for key, below in packages:
    with zipfile.ZipFile(os.path.join(prefix, key)) as archive:
        for info in archive.infolist():
            name = info.filename
            if not info.flag_bits & 0x800:
                name = name.encode("cp437").decode("gbk")
            name = below + name.replace("\\", "/")
            path = os.path.join(target, name)
            if info.external_attr & 0x10:
                os.makedirs(path, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(archive.read(info))
EOF
  (cd "$2" && find . -type f | sed 's|^\./||' | LC_ALL=C.UTF-8 sort)
}

echo "== default release: manifest, packages, descriptions"
"$python" "$make_release" --standin "$standin" --out "$work/store" >/dev/null
prefix=$work/store/9.5MOrvantisIE
"$python" - "$prefix/summary.ini" <<'EOF' || fail "summary.ini"
import configparser, sys
summary = configparser.ConfigParser()
summary.read(sys.argv[1])
time = int(summary["cfgstamp"]["time"])
assert time > 0, time
fix = summary["fixstamp"]["602731"]
assert 0 < len(fix) <= 20 and summary["quant"]["602731"] and summary["stock"]["602731"], dict(summary)
# Other builds' lines are there too and differ from ours.
assert any(code != "602731" for code in summary["fixstamp"]), "one build only"
EOF
fix=$(sed -n 's/^602731=\(.*\)\r$/\1/p' "$prefix/summary.ini" | head -n 1)
quant=$(sed -n '/^\[quant\]/,/^\[/s/^602731=\(.*\)\r$/\1/p' "$prefix/summary.ini")
for key in summary.ini base.zip config.zip "fix/$fix.zip" "quant/$quant.zip" CspAccessApi.StockInfo.pub.zip; do
  [ -s "$prefix/$key" ] || fail "object $key missing"
done
for zip in "$prefix"/*.zip "$prefix"/*/*.zip; do
  unzip -tqq "$zip" 2>/dev/null || fail "$zip does not test clean"
done
unpack_as_installer "$work/store" "$work/tree" >"$work/unpacked.txt"
diff -u "$work/store/expected-tree.txt" "$work/unpacked.txt" || fail "expected-tree.txt is not the unpacked tree"
for required in "morvantis v9.5.exe" uninstall.exe config/morvantis.Default.pub config/morvantis.Default.pri \
                Server/config/shortcut/shortcut602731.ico Server/config/BaseData/StockInfo.pub "帮助/使用说明.txt"; do
  grep -qxF "$required" "$work/store/expected-tree.txt" || fail "$required not in the tree"
done
cmp "$standin/terminal.exe" "$work/tree/morvantis v9.5.exe" || fail "the terminal is not the stand-in"
[ "$(tr -d '\r' <"$work/tree/bin/runtime.ver")" = "$fix" ] || fail "the runtime package does not overwrite the base's file"
(cd "$work/tree" && sha256sum --quiet -c "$work/store/expected-sha256.txt") || fail "expected-sha256.txt"
grep -q 'config/morvantis.Default.pub' "$work/store/expected-sha256.txt" && fail "settings files must not be hashed"
file "$work/tree/Server/config/shortcut/shortcut602731.ico" | grep -q 'icon resource - 6 icons, 16x16, 32 bits/pixel' || fail "shortcut icon"
# Packages hold folders as MS-DOS folder entries and names as GBK bytes.
"$python" - "$prefix/base.zip" "$prefix/quant/$quant.zip" <<'EOF' || fail "zip entries"
import sys, zipfile
base = zipfile.ZipFile(sys.argv[1]).infolist()
assert any(i.external_attr & 0x10 and i.filename == "Server/" for i in base)
chinese = [i for i in base if i.filename.encode("cp437").decode("gbk", "replace").startswith("帮助/")]
assert chinese and not any(i.flag_bits & 0x800 for i in base), "GBK names without the UTF-8 flag"
assert {i.compress_type for i in base} == {0, 8}, "stored and deflated entries"
assert all("\\" in i.filename for i in zipfile.ZipFile(sys.argv[2]).infolist()), "quant uses backslashes"
EOF

echo "== the previous release: other versions, and files the current one lacks"
"$python" "$make_release" --standin "$standin" --out "$work/previous" --edition previous >/dev/null
unpack_as_installer "$work/previous" "$work/previous-tree" >"$work/previous-unpacked.txt"
diff -u "$work/previous/expected-tree.txt" "$work/previous-unpacked.txt" || fail "previous expected-tree.txt"
grep -q "^602731=$fix"$'\r' "$work/previous/9.5MOrvantisIE/summary.ini" && fail "previous release has the current runtime"
grep -q "^602731=$fix"$'\r' "$work/store/9.5MOrvantisIE/summary.ini" || fail "current runtime line"
gone=$(LC_ALL=C.UTF-8 comm -13 "$work/store/expected-tree.txt" "$work/previous/expected-tree.txt")
[ -z "$(LC_ALL=C.UTF-8 comm -23 "$work/store/expected-tree.txt" "$work/previous/expected-tree.txt")" ] ||
  fail "the current release has files the previous one lacks"
for old in bin/legacy.dll config/legacy.ini quant/strategies/grid.qs Server/config/BaseData/US/StockList.dat; do
  printf '%s\n' "$gone" | grep -qxF "$old" || fail "$old is not a file only the previous release has"
done

echo "== the same inputs give the same bytes"
"$python" "$make_release" --standin "$standin" --out "$work/again" >/dev/null
diff -r "$work/store" "$work/again" >/dev/null || fail "two runs differ"

echo "== without the optional packages, another package code"
"$python" "$make_release" --standin "$standin" --out "$work/store" --no-quant --no-stock --package-code 123456 >/dev/null
[ ! -e "$prefix/quant" ] && [ ! -e "$prefix/CspAccessApi.StockInfo.pub.zip" ] || fail "optional packages left behind"
grep -q '^123456=' "$prefix/summary.ini" || fail "no line for 123456"
[ "$(sed -n '/^\[quant\]/,$p' "$prefix/summary.ini" | grep -c '^123456=')" = 0 ] || fail "quant or stock line for 123456"
grep -qxF Server/config/shortcut/shortcut123456.ico "$work/store/expected-tree.txt" || fail "icon named after the code"
grep -q -e '^quant/' -e BaseData "$work/store/expected-tree.txt" && fail "optional files listed"

echo "== bad input: a clear error and nothing lost"
before=$(cd "$work/store" && find . -type f -exec sha256sum {} + | sort)
for code in 12345 1234567 12ab56 "60273 " "../../x"; do
  if "$python" "$make_release" --standin "$standin" --out "$work/store" --package-code "$code" 2>"$work/err"; then
    fail "package code '$code' accepted"
  fi
  grep -q 'six decimal digits' "$work/err" || fail "no clear message for '$code'"
done
mkdir -p "$work/empty"
"$python" "$make_release" --standin "$work/empty" --out "$work/store" 2>"$work/err" && fail "missing stand-ins accepted"
grep -q 'terminal.exe is missing' "$work/err" || fail "no clear message for missing stand-ins"
printf 'not a program' >"$work/empty/terminal.exe"
cp "$standin/uninstall.exe" "$work/empty/"
"$python" "$make_release" --standin "$work/empty" --out "$work/store" 2>"$work/err" && fail "a text file taken as the terminal"
grep -q 'not a Windows program' "$work/err" || fail "no clear message for a bad terminal"
[ "$before" = "$(cd "$work/store" && find . -type f -exec sha256sum {} + | sort)" ] || fail "a rejected run changed the store"

echo "== a small reference release"
"$python" "$make_release" --standin "$standin" --out "$work/reference" --reference-mb 6 >/dev/null
"$python" - "$work/reference/release.json" <<'EOF' || fail "reference size"
import json, sys
release = json.load(open(sys.argv[1]))
mib = release["packageBytes"] / 1048576.0
assert 5.1 <= mib <= 6.9, mib
assert release["files"] >= 6 * 15, release["files"]
assert [p["package"] for p in release["packages"]] == ["base", "fix", "config", "quant", "stock"]
EOF
unpack_as_installer "$work/reference" "$work/reference-tree" >"$work/reference-unpacked.txt"
diff -q "$work/reference/expected-tree.txt" "$work/reference-unpacked.txt" >/dev/null || fail "reference expected-tree.txt"

echo "== the demo store serves the release"
mkdir -p "$work/demo-build"
# Build settings only, no build rules: demo-store falls back to the stand-ins already built.
cp "$build/CMakeCache.txt" "$work/demo-build/"
mkdir -p "$work/demo-build/standin" && cp "$standin"/*.exe "$work/demo-build/standin/"
"$source/tools/demo-store" "$work/demo-build" --port 0 --port-file "$work/port" --no-stock >"$work/demo.log" 2>&1 &
store_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.2; done
[ -s "$work/port" ] || { cat "$work/demo.log" >&2; fail "demo store did not start"; }
key_id=$(sed -n 's/^MORVANTIS_STORE_KEY_ID:[A-Z]*=//p' "$build/CMakeCache.txt")
key_secret=$(sed -n 's/^MORVANTIS_STORE_KEY_SECRET:[A-Z]*=//p' "$build/CMakeCache.txt")
# A build with a release key gets a signed release, one without an unsigned one.
if [ -n "$(sed -n "s/^MORVANTIS_RELEASE_KEY:[A-Z]*=//p" "$build/CMakeCache.txt")" ]; then
  [ -s "$work/demo-build/demo-store/9.5MOrvantisIE/release.sha256.sig" ] || fail "the demo store is not signed"
else
  [ ! -e "$work/demo-build/demo-store/9.5MOrvantisIE/release.sha256" ] || fail "the demo store is signed without a key"
fi
"$python" - "$(cat "$work/port")" "$key_id" "$key_secret" "$work/demo-build/demo-store" <<'EOF' || fail "signed GET from the demo store"
import base64, email.utils, hashlib, hmac, http.client, sys
port, key_id, secret, root = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
key = "9.5MOrvantisIE/summary.ini"
date = email.utils.formatdate(usegmt=True)
signature = base64.b64encode(hmac.new(secret.encode(), ("GET\n\n\n%s\n/zqpublish/%s" % (date, key)).encode(),
                                      hashlib.sha1).digest()).decode()
connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
connection.request("GET", "/zqpublish/" + key, headers={"Date": date, "Authorization": "OSS %s:%s" % (key_id, signature)})
response = connection.getresponse()
body = response.read()
assert response.status == 200, (response.status, body)
assert body == open(root + "/" + key, "rb").read()
assert b"[stock]" in body and b"\r\n602731=" not in body.split(b"[stock]")[1], "--no-stock reached the release"
EOF
echo "PASS"
