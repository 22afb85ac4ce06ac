#!/bin/sh
# Builds the zip reader and the entry-name checks natively with libFuzzer, AddressSanitizer
# and UBSan and fuzzes them on one core, seeded with the test archives.
# Usage: unzip/fuzz/run.sh [seconds (0: no limit)] [work-folder] [libFuzzer options, e.g. -runs=10000000]
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
work=${2:-${TMPDIR:-/tmp}/unzip-fuzz}
[ $# -gt 2 ] && shift 2 || set --
mkdir -p "$work/corpus" "$work/seeds"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$root/unzip/unzip.cpp" "$root/unzip/entry_path.cpp" "$root/unzip/fuzz/unzip_fuzz.cpp" -lz \
  -o "$work/unzip_fuzz"
python3 "$root/tests/unzip/make_archives.py" "$work/seeds" >/dev/null
# Seeds beyond the input size (the sparse archive of several GiB) are left out.
find "$work/seeds" -type f -size +16M -delete
cd "$work"
./unzip_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 "$@" corpus seeds
