#!/bin/sh
# Builds the zip reader natively with libFuzzer and AddressSanitizer and fuzzes it,
# seeded with the test archives. Usage: unzip/fuzz/run.sh [seconds] [work-folder]
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
work=${2:-${TMPDIR:-/tmp}/unzip-fuzz}
mkdir -p "$work/corpus" "$work/seeds"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$root/unzip/unzip.cpp" "$root/unzip/fuzz/unzip_fuzz.cpp" -lz -o "$work/unzip_fuzz"
python3 "$root/tests/unzip/make_archives.py" "$work/seeds" >/dev/null
# Seeds beyond the input size (the sparse archive of several GiB) are left out.
find "$work/seeds" -type f -size +16M -delete
cd "$work"
./unzip_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 corpus seeds
