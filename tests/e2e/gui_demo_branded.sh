#!/bin/bash
# tools/demo with a distributor's branded build: another package code, folder prefix,
# name, key and a free local port. The demo serves the sample release with that build's
# settings, installs into that build's own folder and reports it and its log truthfully;
# a build whose endpoint is not local is refused before anything is built.
# Usage: gui_demo_branded.sh <build-dir> <source-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
configure() {  # configure FOLDER [-D settings...]
  local folder=$1
  shift
  cmake -S "$source" -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
    -DMORVANTIS_TESTS=OFF "${launcher[@]}" "$@" >"$folder.configure.log" 2>&1 ||
    { cat "$folder.configure.log"; fail "configure $folder"; }
}

echo "== a build for a remote store is refused"
remote=$build/demo-remote
configure "$remote" -DMORVANTIS_STORE_ENDPOINT=https://oss-accelerate.example.com
if "$source/tools/demo" "$remote" --headless >"$remote.demo.log" 2>&1; then fail "demo ran with a remote endpoint"; fi
grep -q 'must be 127.0.0.1:PORT' "$remote.demo.log" || fail "no clear refusal: $(cat "$remote.demo.log")"
[ ! -e "$remote/MorvantisSetup.exe" ] || fail "the remote build was built anyway"

echo "== a branded build: its port, key, code and folder"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
branded=$build/demo-branded
configure "$branded" -DMORVANTIS_PACKAGE_CODE=000123 -DMORVANTIS_FOLDER_PREFIX=Acme \
  -DMORVANTIS_DISTRIBUTOR_ENU="Acme Markets" -DMORVANTIS_STORE_ENDPOINT=127.0.0.1:$port \
  -DMORVANTIS_STORE_KEY_ID=AcmeReadOnlyKeyId2026 -DMORVANTIS_STORE_KEY_SECRET=AcmeReadOnlySecretForTheDemo2026x
"$source/tools/demo" "$branded" --headless --lang en_US.UTF-8 >"$branded.demo.log" 2>&1 ||
  { cat "$branded.demo.log"; fail "tools/demo failed with a branded build"; }
grep -q "on 127.0.0.1:$port" "$branded.demo.log" || fail "not served on the build's port: $(cat "$branded.demo.log")"
installed=$(sed -n 's/^demo: installed tree: //p' "$branded.demo.log")
[ "$(basename "$installed")" = Acme000123v9.5 ] || fail "installed tree: $(cat "$branded.demo.log")"
[ -f "$installed/morvantis v9.5.exe" ] || fail "no terminal in $installed"
grep -q "nothing was installed" "$branded.demo.log" && fail "the demo reported nothing installed after a success"
log=$(sed -n 's/^demo: install log (GBK, CRLF): //p' "$branded.demo.log")
[ -f "$log" ] || fail "no install log printed: $(cat "$branded.demo.log")"
iconv -f GBK -t UTF-8 "$log" | grep -q 'Version: IE_9.5.9.1' || fail "the log does not read as GBK"
grep -q "read it with: iconv -f GBK" "$branded.demo.log" || fail "no line to read the log"
! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || fail "the store still runs"
echo "PASS"
