#!/bin/sh
# Extraction speed against Info-ZIP's unzip, in the same run on the same disk:
#   (a) a package of about 200 MiB in a few large files,
#   (b) a package of 5,000 small files in 50 folders.
# Each side extracts into a fresh folder, best of five interleaved runs; the archive is read once
# beforehand so that both read it from the page cache. Prints both times, their ratio
# (TUnzip under Wine / unzip natively) and the extractor's peak memory.
# Usage: tools/bench/unzip-bench.sh [build-folder] [work-folder]
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=${2:-$build/unzip-bench}
extractor="$build/test-programs/unzip_extract.exe"
[ -f "$extractor" ] || { echo "build $extractor first (cmake --build $build --target unzip_extract)" >&2; exit 2; }
mkdir -p "$work"
export WINEPREFIX="$build/wineprefix"

python3 - "$work" <<'EOF'
import os, random, subprocess, sys
work = sys.argv[1]

def make(name, fill):
    archive = os.path.join(work, name + ".zip")
    if os.path.exists(archive):
        return
    src = os.path.join(work, name + "-src")
    subprocess.run(["rm", "-rf", src], check=True)
    fill(src, random.Random(name))
    subprocess.run(["zip", "-q", "-r", "-6", archive + ".tmp", "."], cwd=src, check=True)
    os.rename(archive + ".tmp", archive)
    subprocess.run(["rm", "-rf", src], check=True)

def quotes(rng, size):
    # CSV-like text with a fresh random block every MiB, so deflate cannot reuse it.
    out = bytearray()
    while len(out) < size:
        out += b"".join(b"%08d,%s,%d.%02d,%d\n" % (rng.randrange(10**8), rng.choice([b"BUY", b"SELL"]),
                        rng.randrange(10**4), rng.randrange(100), rng.randrange(10**6)) for _ in range(25000))
    return bytes(out[:size])

def large(src, rng):
    os.makedirs(src)
    for i in range(3):  # incompressible: stored by zip
        with open(os.path.join(src, "runtime%d.bin" % i), "wb") as f:
            f.write(rng.randbytes(42 << 20))
    for i in range(2):  # compressible: deflated
        with open(os.path.join(src, "history%d.csv" % i), "wb") as f:
            f.write(quotes(rng, 80 << 20))

def small(src, rng):
    for folder in range(50):
        path = os.path.join(src, "module%02d" % folder)
        os.makedirs(path)
        for n in range(100):
            with open(os.path.join(path, "file%03d.dat" % n), "wb") as f:
                f.write(quotes(rng, rng.randrange(200, 8000)) if n % 2 else rng.randbytes(rng.randrange(200, 8000)))

make("large", large)
make("small", small)
EOF

now() { date +%s.%N; }
"$root/tools/wine-prefix" start >/dev/null 2>&1 || true
# Warm Wine up once, so that its start-up is not counted in the first run.
"$root/tools/wine-run" "$extractor" >/dev/null 2>&1 || true

seconds() {  # runs a command into a fresh output folder; prints the seconds it took
  rm -rf "$work/out"
  mkdir -p "$work/out"
  sync  # neither side pays for the other's write-back
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  rm -rf "$work/out"
  python3 -c "print($end - $start)"
}

for case in large small; do
  archive="$work/$case.zip"
  cat "$archive" >/dev/null
  # Interleaved, best of five each, so that a busy moment does not favour one side.
  native="" ours=""
  for run in 1 2 3 4 5; do
    native="$native $(seconds unzip -o -q "$archive" -d "$work/out")"
    ours="$ours $(seconds "$root/tools/wine-run" "$extractor" "Z:$archive" "Z:$work/out")"
  done
  native=$(python3 -c "print(min(float(t) for t in '$native'.split()))")
  ours=$(python3 -c "print(min(float(t) for t in '$ours'.split()))")
  mkdir -p "$work/out"
  memory=$("$root/tools/wine-run" "$extractor" "Z:$archive" "Z:$work/out")
  rm -rf "$work/out"
  files=$(unzip -Z1 "$archive" | grep -vc '/$')
  mib=$(python3 -c "import os; print(round(os.path.getsize('$archive') / 2**20))")
  python3 - "$case" "$native" "$ours" "$files" "$mib" "$memory" <<'EOF'
import sys
case, native, ours, files, mib, memory = sys.argv[1:]
native, ours = float(native), float(ours)
target = 1.5 if case == "large" else 3.0
label = "(a) few large files" if case == "large" else "(b) many small files"
print("%s: %s MiB archive, %s files" % (label, mib, files))
print("  unzip -o (native)     %7.2f s" % native)
print("  TUnzip (under Wine)   %7.2f s" % ours)
print("  ratio                 %7.2f   (target %.1f)" % (ours / native, target))
print("  TUnzip peak memory    %s" % memory.strip())
EOF
done
