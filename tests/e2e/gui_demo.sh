#!/bin/bash
# The README's first command, headless: tools/demo builds, serves the sample release,
# clicks through the installer by itself, stops the store and leaves the screenshots and
# the installed tree. Usage: gui_demo.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
"$source/tools/demo" "$build" --headless >"$build/demo.log" 2>&1 || { cat "$build/demo.log"; fail "tools/demo failed"; }
for page in 1-start 2-custom 3-installing 4-finished 5-terminal; do
  [ -s "$build/demo-screenshots/$page.png" ] || fail "no $page screenshot"
done
installed=$(sed -n 's/^demo: installed tree: //p' "$build/demo.log")
[ -f "$installed/morvantis v9.5.exe" ] || fail "no installed tree: $(cat "$build/demo.log")"
! (exec 3<>/dev/tcp/127.0.0.1/18093) 2>/dev/null || fail "the store still runs"
echo "PASS"
