#!/bin/bash
# A whole installation of a reference release (about 200 MiB in the five packages, some
# 3,000 files) with the real MorvantisSetup.exe under Wine in a virtual display, driven
# like a user (Install, then the finish page), timed from the Install click to the finish
# page, next to the same work done natively in the same run on the same disk: curl
# downloading the same objects from the same store, Info-ZIP unzip -o extracting them
# into one folder and cp -r copying the tree into place. Twice: the store throttled to
# 12.5 MB/s (a 100 Mbit/s line) and unthrottled. Prints both times, their ratio, the
# installer's peak memory and, from the install log's time stamps, where its time goes;
# at the end the figures as Markdown tables. The build is keyed to the demonstration
# release key and the release signed; at 12.5 MB/s the same release is also installed by
# a build without a key (BUILD/unsigned), for the cost of checking signed releases.
#   tools/bench/install-bench.sh [BUILD] [MiB]     (defaults: ./build-bench, 200)
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source/build-bench}
mib=${2:-200}
throttled_rate=12500000

if [ -z "${MORVANTIS_BENCH_INSIDE:-}" ]; then
  mkdir -p "$build"
  build=$(cd "$build" && pwd)
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
    -DMORVANTIS_RELEASE_KEY="$source/tools/release-keys/DEMO-ONLY-release-public.pem" >/dev/null
  nice cmake --build "$build" -j 2 --target MorvantisSetup standin_terminal standin_uninstall
  # The same installer without a release key, talking to the same store.
  cmake -S "$source" -B "$build/unsigned" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
    -DMORVANTIS_TESTS=OFF -DMORVANTIS_RELEASE_KEY= \
    -DMORVANTIS_STORE_ENDPOINT="$(sed -n 's/^MORVANTIS_STORE_ENDPOINT:[A-Z]*=//p' "$build/CMakeCache.txt")" >/dev/null
  nice cmake --build "$build/unsigned" -j 2 --target MorvantisSetup
  # A virtual display of our own, stopped whatever happens (xvfb-run leaves its server
  # running when it cannot remove its temporary folder).
  number=""
  for n in $(seq 150 250); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { number=$n; break; }
  done
  [ -n "$number" ] || { echo "no free display number" >&2; exit 1; }
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null' EXIT
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$number" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
  done
  DISPLAY=:$number MORVANTIS_BENCH_INSIDE=1 "$0" "$build" "$mib" &
  inner_pid=$!
  # Stopped, the run still cleans up after itself before the display goes.
  trap 'kill "$inner_pid" 2>/dev/null; wait "$inner_pid"; exit 130' INT TERM
  status=0
  wait "$inner_pid" || status=$?
  exit "$status"
fi

export WINEPREFIX=$build/wineprefix
export GUI_SHOTS=$build/bench-screenshots
# The end-to-end tests' steps: the release, the installer's window, clicks, screenshots.
. "$source/tests/e2e/gui_lib.bash"
native=$build/bench-native  # beside the Wine prefix: the same disk as the installation
results=$work/results

bench_cleanup() {
  local status=$?
  set +e
  if [ "$status" != 0 ] && [ -s "$work/installer.out" ]; then
    echo "-- the installer's output:" >&2
    tail -n 20 "$work/installer.out" >&2
  fi
  [ -n "$store_pid" ] && touch "$work/store.stop"
  rm -rf "$native"
  # The prefix is this build folder's own: every Wine process in it was started here.
  "$source/tools/wine-prefix" stop
  (exit "$status")
  gui_cleanup
}
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

now() { echo "$EPOCHREALTIME"; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

endpoint=$(cache_value MORVANTIS_STORE_ENDPOINT)
endpoint=${endpoint#http://}
port=${endpoint##*:}
store_value() { sed -n "s/^$1 = \"\(.*\)\"$/\1/p" "$source/tools/oss_store.py"; }
key_id=$(store_value DEMO_KEY_ID)
key_secret=$(store_value DEMO_KEY_SECRET)
[ -n "$key_id" ] && [ -n "$key_secret" ] || fail "no demo keys in tools/oss_store.py"

echo "== reference release: about $mib MiB"
make_store reference --reference-mb "$mib"
prefix_key=9.5MOrvantisIE
bucket=$work/reference
# The objects in the order the installer fetches them; the last five are the packages.
objects=("$prefix_key/summary.ini" "$prefix_key/base.zip" "$prefix_key/config.zip")
objects+=("${prefix_key}/fix/$(cd "$bucket/$prefix_key/fix" && ls ./*.zip | sed 's|^\./||')")
objects+=("${prefix_key}/quant/$(cd "$bucket/$prefix_key/quant" && ls ./*.zip | sed 's|^\./||')")
objects+=("$prefix_key/CspAccessApi.StockInfo.pub.zip")
package_bytes=$(cd "$bucket" && du -cb "${objects[@]:1}" | tail -n 1 | cut -f1)
tree_files=$(wc -l <"$bucket/expected-tree.txt")
echo "   packages: $((package_bytes / 1048576)) MiB in 5 objects; installed tree: $tree_files files"

# One store for both runs: it checksums every object before it listens, which takes
# longer than the tests' start-up wait allows. The rate is switched through its faults
# file, which it reads on every request.
start_reference_store() {
  local _
  for _ in $(seq 300); do
    ss -Hltn "sport = :$port" | grep -q . || break
    sleep 1
  done
  ss -Hltn "sport = :$port" | grep -q . && fail "port $port stays taken by another program"
  echo '{}' >"$work/faults.json"
  rm -f "$work/port" "$work/store.stop"
  "$python" "$source/tools/oss_store.py" --root "$bucket" --port "$port" --port-file "$work/port" \
    --faults "$work/faults.json" --access-log "$work/access.log" --stop-file "$work/store.stop" \
    >"$work/store.log" 2>&1 &
  store_pid=$!
  # Up to 5 minutes for the checksums (a pure-Python CRC-64 over every object).
  timeout 300 bash -c "until [ -s '$work/port' ]; do kill -0 $store_pid 2>/dev/null || exit 1; sleep 0.2; done" ||
    { cat "$work/store.log" >&2; fail "the store did not start on port $port"; }
}

set_rate() {  # bytes per second of every body, 0: unlimited
  if [ "$1" = 0 ]; then
    echo '{}' >"$work/faults.json"
  else
    printf '{"*": [{"action": "throttle", "bytes_per_sec": %d}]}\n' "$1" >"$work/faults.json"
  fi
}

# Every file of a tree but the installer's own additions, as in expected-tree.txt.
tree_list() { (cd "$1" && find . -type f ! -path './morvantislog/*' ! -name update.ini | sed 's|^\./||' | LC_ALL=C.UTF-8 sort); }

# The installer's process: the Wine process that owns the window.
installer_process() {
  local pid
  pid=$(xdotool getwindowpid "$window" 2>/dev/null || true)
  [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'MorvantisSetup\.exe' && { echo "$pid"; return 0; }
  return 1
}

# xcopy_running: the system copy the installer starts for its copy step, in this prefix.
xcopy_running() {
  local p
  for p in $(pgrep -i -x 'xcopy(\.exe)?' || true); do
    grep -qz "^WINEPREFIX=$prefix\$" "/proc/$p/environ" 2>/dev/null && return 0
  done
  return 1
}

run_installer() {  # LABEL
  local label=$1 install staging log pid desktop started f page polls=0 peak stamp
  local copying="" copied=- gone=- made=- done_at=""
  reset_machine
  install=$(default_install)
  staging=$(local_appdata)/${folder_name}temp
  desktop=$(public_desktop)
  start_installer zh_CN.UTF-8
  park
  [ "$(page_of "$(shot "bench-$label-start")")" = start ] || fail "the start page is not shown"
  pid=$(installer_process) || fail "no Wine process of MorvantisSetup.exe owns the window"
  sync  # neither side pays for the other's write-back
  started=$(now)
  click 250 220
  # Cheap polling while the installer works (2 cores): when the copy ends, when the
  # staging folder is gone, when the shortcut (made just before the finish page) is
  # there; a look at the window every 5 s catches a failure.
  until compgen -G "$desktop/*v9.5.lnk" >/dev/null; do
    stamp=$(now)
    [ -f "$work/installer.rc" ] && fail "the installer ended before finishing"
    if [ "$copied" = - ]; then
      if xcopy_running; then copying=1; elif [ -n "$copying" ]; then copied=$stamp; fi
    fi
    [ "$gone" = - ] && [ "$copied" != - ] && [ ! -d "$staging" ] && gone=$stamp
    polls=$((polls + 1))
    if [ $((polls % 50)) = 0 ]; then
      page=$(page_of "$(shot poll)")
      [ "$page" = failed ] && { shot "bench-$label-failed" >/dev/null; fail "the installation failed"; }
      [ "$polls" -lt 12000 ] || fail "the installation took more than 20 minutes"
    fi
    sleep 0.1
  done
  made=$(now)
  [ "$copied" = - ] || [ "$gone" != - ] || gone=$made
  for _ in $(seq 200); do
    stamp=$(now)
    f=$(shot poll)
    [ "$(page_of "$f")" = finished ] && { done_at=$stamp; break; }
  done
  [ -n "$done_at" ] || fail "the finish page did not appear"
  peak=$(awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status")
  park
  shot "bench-$label-finished" >/dev/null
  click 488 12  # the close box
  [ "$(wait_installer_exit)" = 0 ] || fail "the installer's exit code is $(cat "$work/installer.rc")"

  tree_list "$install" | diff -q "$bucket/expected-tree.txt" - >/dev/null || fail "the installed tree differs from the release"
  (cd "$install" && sha256sum -c --quiet "$bucket/expected-sha256.txt") || fail "installed files differ from the release"
  log=$(ls "$install"/morvantislog/*install.log | tail -n 1)
  echo "installer $label $started $done_at $peak" >>"$results"
  "$python" - "$log" "$started" "$done_at" "$copied" "$gone" >>"$results" <<'PY' || fail "the install log could not be read"
import re, sys, time
log, started, done = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
copied, gone = [float(t) - started if t != "-" else None for t in sys.argv[4:6]]

def day_seconds(t):
    local = time.localtime(t)
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + (t % 1)

origin = day_seconds(started)
stamps = {}
for raw in open(log, "rb").read().split(b"\r\n"):
    m = re.match(rb"\[(\d\d):(\d\d):(\d\d) (\d{3})\]\t\t(.*)", raw)
    if not m:
        continue
    at = int(m[1]) * 3600 + int(m[2]) * 60 + int(m[3]) + int(m[4]) / 1000
    if at < origin - 43200:
        at += 86400  # past midnight
    stamps.setdefault(m[5].decode("gbk"), at - origin)
steps = ["用户点击安装，安装开始...", "下载服务依赖库", "安装前端依赖库", "清理安装文件", "复制新版本数据到原目录"]
missing = [s for s in steps if s not in stamps]
if missing:
    sys.exit("missing log lines: %s" % missing)
a, b, c, d, e = (stamps[s] for s in steps)
end = done - started
if copied is None:  # moved by a rename: no copy to tell apart
    copied = gone = e
# The worker's nine 100 ms pauses: one before the downloads, six among the unpacking
# steps (after the download step and after each package), one after the clean-up and
# one after the old files are removed.
print("phases %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f" % (
    b - 0.1, c - b, d - c - 0.6, e - d - 0.2, copied - e, gone - copied, end - gone, 0.9))
PY
}

# measure COMMAND...: runs it, keeping its peak memory (KiB) in $native/peaks.
measure() { /usr/bin/time -a -o "$native/peaks" -f %M "$@"; }

# unzip_into ARCHIVE FOLDER: exit code 1 is a warning only (unzip takes the backslash
# separators of some packages as "/" and says so); the tree is compared afterwards.
unzip_into() {
  local status=0
  measure unzip -o -q "$1" -d "$2" 2>>"$native/unzip.err" || status=$?
  [ "$status" -le 1 ] || { cat "$native/unzip.err" >&2; fail "unzip $(basename "$1"): exit code $status"; }
}

run_native() {  # LABEL
  local label=$1 key date signature args=() t0 t1 t2 t3 peak
  rm -rf "$native"
  mkdir -p "$native/downloads" "$native/staging/Server/config/BaseData" "$native/install"
  # Signed the way the installer signs (OSS signature version 1), before the clock starts.
  date=$(LC_ALL=C TZ=GMT date '+%a, %d %b %Y %H:%M:%S GMT')
  for key in "${objects[@]}"; do
    signature=$(printf 'GET\n\n\n%s\n/zqpublish/%s' "$date" "$key" | openssl dgst -sha1 -hmac "$key_secret" -binary | base64)
    [ ${#args[@]} = 0 ] || args+=(--next)
    args+=(-sS --fail -o "$native/downloads/${key##*/}" -H "Date: $date" -H "Authorization: OSS $key_id:$signature"
      "http://127.0.0.1:$port/zqpublish/$key")
  done
  local d=$native/downloads s=$native/staging
  sync
  t0=$(now)
  measure curl "${args[@]}" || fail "curl could not download the objects"
  t1=$(now)
  # The installer's order: later packages overwrite earlier ones.
  for package in base.zip "${objects[3]##*/}" config.zip "${objects[4]##*/}"; do
    unzip_into "$d/$package" "$s"
  done
  unzip_into "$d/CspAccessApi.StockInfo.pub.zip" "$s/Server/config/BaseData"
  t2=$(now)
  measure cp -r "$s/." "$native/install/" || fail "cp -r"
  t3=$(now)
  # The same files; unzip cannot know that names without the UTF-8 flag are GBK (the
  # installer reads them so), so only the names in plain ASCII are compared by name.
  tree_list "$native/install" >"$native/tree.txt"
  [ "$(wc -l <"$native/tree.txt")" = "$tree_files" ] || fail "the native tree has $(wc -l <"$native/tree.txt") files, not $tree_files"
  diff <(LC_ALL=C grep -v '[^ -~]' "$bucket/expected-tree.txt") <(LC_ALL=C grep -v '[^ -~]' "$native/tree.txt") >"$native/tree.diff" ||
    { head -n 20 "$native/tree.diff" >&2; fail "the native tree differs from the release"; }
  peak=$(sort -n "$native/peaks" | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }')
  echo "native $label $t0 $t1 $t2 $t3 $peak" >>"$results"
  rm -rf "$native"
}

report() {  # LABEL TARGET
  "$python" - "$results" "$1" "$2" <<'PY'
import sys
results, label, target = sys.argv[1], sys.argv[2], sys.argv[3]
lines = [l.split() for l in open(results)]
mine = [l for l in lines if len(l) > 1 and l[1] == label]
inst = next(l for l in mine if l[0] == "installer")
phases = next(l for l in lines[lines.index(inst) + 1:] if l[0] == "phases")
nat = next(l for l in mine if l[0] == "native")
installer = float(inst[3]) - float(inst[2])
t0, t1, t2, t3 = map(float, nat[2:6])
native = t3 - t0
print("   installer under Wine (Install click to finish page) %7.2f s" % installer)
print("   native: curl + unzip -o + cp -r                     %7.2f s" % native)
print("   ratio installer / native                            %7.2f%s" % (installer / native,
      "   (target: at most %s)" % target if target != "-" else ""))
print("   installer peak memory (VmHWM)                       %7s MiB   (native tools: %s MiB at most)" % (inst[4], nat[6]))
p = [float(x) for x in phases[1:]]
rows = [("checks, log, manifest", p[0], None), ("download (5 packages)", p[1], t1 - t0), ("unpacking", p[2], t2 - t1),
        ("clean-up, version record, old files", p[3], None), ("copy into place (XCOPY / cp -r)", p[4], t3 - t2),
        ("staging folder removed", p[5], None), ("registration, shortcut, finish page", p[6], None),
        ("fixed pauses (9 x 100 ms)", p[7], None)]
print("   where the time goes                       installer    native")
for name, mine_s, native_s in rows:
    print("     %-38s %7.2f s %s" % (name, mine_s, "%7.2f s" % native_s if native_s is not None else "      -"))
PY
}

"$source/tools/wine-prefix" start
start_reference_store
echo "   store: 127.0.0.1:$port, $(df --output=source "$build" | tail -n 1) holds the installation and the native copy"

for round in throttled unthrottled; do
  if [ $round = throttled ]; then
    set_rate "$throttled_rate"
    echo "== store throttled to 12.5 MB/s (100 Mbit/s)"
  else
    set_rate 0
    echo "== store unthrottled (loopback)"
  fi
  run_installer $round
  if [ $round = throttled ]; then
    echo "   (and the same release installed by the build without a release key)"
    installer_exe=$build/unsigned/MorvantisSetup.exe run_installer unsigned
  fi
  run_native $round
  if [ $round = throttled ]; then report $round 1.20; else report $round -; fi
done
reset_machine

echo
echo "== for the README"
"$python" - "$results" "$package_bytes" "$tree_files" <<'PY'
import sys
results, package_bytes, tree_files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
lines = [l.split() for l in open(results)]
def row(label):
    inst = next(l for l in lines if l[0] == "installer" and l[1] == label)
    phases = [float(x) for x in lines[lines.index(inst) + 1][1:]]
    nat = next(l for l in lines if l[0] == "native" and l[1] == label)
    t = list(map(float, nat[2:6]))
    return float(inst[3]) - float(inst[2]), t[3] - t[0], inst[4], phases, [t[1] - t[0], t[2] - t[1], t[3] - t[2]]
print("Installation of a %d MiB reference release (%d files installed) from the local store, Install click to finish page"
      % (package_bytes / 1048576, tree_files))
print("(`tools/bench/install-bench.sh`):")
print()
print("| store | native: curl + unzip -o + cp -r | MorvantisSetup.exe under Wine | ratio | installer peak memory |")
print("|---|---|---|---|---|")
for label, name in (("throttled", "12.5 MB/s (100 Mbit/s)"), ("unthrottled", "loopback, unthrottled")):
    installer, native, peak, _, _ = row(label)
    print("| %s | %.1f s | %.1f s | %.2f | %s MiB |" % (name, native, installer, installer / native, peak))
installed = {l[1]: float(l[3]) - float(l[2]) for l in lines if l[0] == "installer"}
print()
print("Checking the signed release at 12.5 MB/s: %.2f s signed, %.2f s unsigned: %+.1f %% of the whole installation"
      % (installed["throttled"], installed["unsigned"], 100.0 * (installed["throttled"] / installed["unsigned"] - 1)))
installer, native, _, p, n = row("unthrottled")
print()
print("Unthrottled, where the time goes:")
print()
print("| step | installer | native |")
print("|---|---|---|")
for name, mine, theirs in (("checks, log, manifest", p[0], None), ("download", p[1], n[0]), ("unpacking", p[2], n[1]),
                           ("clean-up, version record, old files", p[3], None), ("copy into place", p[4], n[2]),
                           ("staging folder removed", p[5], None), ("registration, shortcut, finish page", p[6], None),
                           ("fixed pauses (9 x 100 ms)", p[7], None)):
    print("| %s | %.2f s | %s |" % (name, mine, "%.2f s" % theirs if theirs is not None else "–"))
PY
