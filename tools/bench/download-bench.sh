#!/bin/sh
# Downloads a 200 MiB object from the local store with the installer's client (under
# Wine) and with native curl in the same run, throttled to 12.5 MB/s (a 100 Mbit/s line)
# and unthrottled on loopback; prints both times, their ratio and the client's peak memory.
#   tools/bench/download-bench.sh [build-folder] [size-MiB]
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-200}
program="$build/test-programs/store_download.exe"
[ -f "$program" ] || { echo "build $program first (cmake --build $build)" >&2; exit 2; }
work=$(mktemp -d /tmp/mvt-bench-XXXXXX)
store_pid=
cleanup() {
  [ -n "$store_pid" ] && kill "$store_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

key=bench/object.bin
mkdir -p "$work/bucket/bench"
head -c $((mib * 1048576)) /dev/urandom >"$work/bucket/$key"
echo '{}' >"$work/faults.json"
python3 "$root/tools/oss_store.py" --root "$work/bucket" --port 0 --port-file "$work/port" \
  --faults "$work/faults.json" >"$work/store.log" 2>&1 &
store_pid=$!
i=0
while [ ! -s "$work/port" ]; do  # the store checksums the object before it listens
  i=$((i + 1)); [ $i -lt 1200 ] || { echo "store did not start" >&2; cat "$work/store.log" >&2; exit 1; }
  sleep 0.1
done
endpoint=127.0.0.1:$(cat "$work/port")

# curl signs with the demo build's keys, as the client does.
curl_get() {
  date=$(LC_ALL=C TZ=GMT date '+%a, %d %b %Y %H:%M:%S GMT')
  signature=$(printf 'GET\n\n\n%s\n/zqpublish/%s' "$date" "$key" |
    openssl dgst -sha1 -hmac DemoSecretForTheLocalStore2026 -binary | base64)
  curl -sS -o "$work/curl.bin" -w '%{time_total}' -H "Date: $date" \
    -H "Authorization: OSS DemoAccessKeyIdMorvant01:$signature" "http://$endpoint/zqpublish/$key"
}

client_get() {
  (cd "$build" && "$root/tools/wine-run" "$program" "$endpoint" "$key" "Z:$work/client.bin" | tr -d '\r')
}

run() {  # label
  curl_seconds=$(curl_get)
  client_line=$(client_get)
  cmp -s "$work/curl.bin" "$work/bucket/$key" || { echo "curl's copy differs" >&2; exit 1; }
  cmp -s "$work/client.bin" "$work/bucket/$key" || { echo "client's copy differs: $client_line" >&2; exit 1; }
  client_seconds=$(echo "$client_line" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')
  peak=$(echo "$client_line" | sed -n 's/.*peak_working_set_mib=\([0-9.]*\).*/\1/p')
  python3 - "$1" "$mib" "$curl_seconds" "$client_seconds" "$peak" <<'PY'
import sys
label, mib, curl, client, peak = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
rate = lambda s: mib * 1.048576 / s
print("%-22s curl %7.2f s (%6.1f MB/s)   client %7.2f s (%6.1f MB/s)   client/curl %.3f   client peak memory %s MiB"
      % (label, curl, rate(curl), client, rate(client), client / curl, peak))
PY
  rm -f "$work/curl.bin" "$work/client.bin"
}

WINEPREFIX="$build/wineprefix" "$root/tools/wine-prefix" ensure
echo "object: $mib MiB; store $endpoint"
printf '{"%s": [{"action": "throttle", "bytes_per_sec": 12500000}]}\n' "$key" >"$work/faults.json"
run "12.5 MB/s (100 Mbit/s)"
echo '{}' >"$work/faults.json"
run "loopback, unthrottled"
