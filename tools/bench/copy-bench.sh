#!/bin/sh
# Putting a release-sized tree in place, with the installer's own code
# (test-programs/swap_bench.exe). The tree: 3,000 files in 120 folders (ten of 15 MiB),
# about 240 MiB, on the build's disk.
# (a) To another volume (a folder on /dev/shm, a file system of its own here, mapped as a
#     drive of the prefix): the in-process copy against Wine's own
#     "cmd.exe /c XCOPY src dst\ /S /E /Y /C", the command the installer used to start,
#     on the same tree in the same run; best of three interleaved runs.
# (b) On the same volume: the whole swap (link scan, old entries aside, staged entries
#     placed and checked, old ones removed) over an old installation of the same size, and
#     into a folder holding only the log folder.
# Usage: tools/bench/copy-bench.sh [build-folder] [work-folder]
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=${2:-$build/copy-bench}
copier="$build/test-programs/swap_bench.exe"
[ -f "$copier" ] || { echo "build $copier first (cmake --build $build --target swap_bench)" >&2; exit 2; }
export WINEPREFIX="$build/wineprefix"
[ "$(stat -f -c %i /dev/shm)" != "$(stat -f -c %i "$build")" ] || { echo "/dev/shm is not a volume of its own here" >&2; exit 2; }
mkdir -p "$work"

python3 - "$work/tree" <<'EOF'
import os, random, sys
src = sys.argv[1]
if not os.path.exists(os.path.join(src, ".complete")):
    rng = random.Random(3000)
    for folder in range(60):
        path = os.path.join(src, "module%02d" % folder, "sub")
        os.makedirs(path, exist_ok=True)
        for n in range(50):
            size = 15 << 20 if (folder % 6 == 0 and n == 0) else rng.randrange(1000, 60000)
            name = os.path.join(path if n % 2 else os.path.dirname(path), "file%03d.dat" % n)
            with open(name, "wb") as f:
                f.write(rng.randbytes(size))
    open(os.path.join(src, ".complete"), "w").close()
EOF

target=$(mktemp -d /dev/shm/mvt-copy-bench-XXXXXX)
letter=""
for l in r s t u v w x y; do
  if ln -s "$target" "$WINEPREFIX/dosdevices/$l:" 2>/dev/null; then letter=$l; break; fi
done
[ -n "$letter" ] || { rm -rf "$target"; echo "no free drive letter r: to y:" >&2; exit 2; }
trap 'rm -f "$WINEPREFIX/dosdevices/$letter:"; rm -rf "$target"' EXIT
drive=$(echo "$letter" | tr a-z A-Z):

now() { date +%s.%N; }
"$root/tools/wine-prefix" start >/dev/null 2>&1 || true
"$root/tools/wine-run" "$copier" >/dev/null 2>&1 || true  # warm Wine up once

files=$(find "$work/tree" -type f ! -name .complete | wc -l)
seconds() {  # runs a command into an empty target; prints the seconds it took
  rm -rf "$target/out"
  sync
  start=$(now)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(now)
  [ "$(find "$target/out" -type f ! -name .complete | wc -l)" = "$files" ] || { echo "incomplete copy: $*" >&2; exit 1; }
  python3 -c "print($end - $start)"
}

source_win="Z:$(echo "$work/tree" | tr / '\\')"
find "$work/tree" -type f -exec cat {} + >/dev/null  # both sides read from the page cache
xcopy="" ours=""
for run in 1 2 3; do
  xcopy="$xcopy $(seconds "$root/tools/wine-run" cmd.exe /c XCOPY "$source_win" "$drive\\out\\" /S /E /Y /C)"
  ours="$ours $(seconds "$root/tools/wine-run" "$copier" copy "$source_win" "$drive\\out")"
done
mib=$(du -sm "$work/tree" | cut -f1)
python3 - "$xcopy" "$ours" "$files" "$mib" <<'EOF'
import sys
xcopy, ours = (min(float(t) for t in s.split()) for s in sys.argv[1:3])
print("copy to another volume: %s files, %s MiB, best of three" % (sys.argv[3], sys.argv[4]))
print("  cmd.exe /c XCOPY /S /E /Y /C (Wine)   %7.2f s" % xcopy)
print("  in-process copy (Wine)                %7.2f s" % ours)
print("  ratio in-process / XCOPY              %7.2f" % (ours / xcopy))
EOF

# (b) the same volume: copies of the tree as the old installation and as the staged release.
swap_run() {  # $1: "old" to start from an old installation of the same tree
  rm -rf "$work/swap"
  mkdir -p "$work/swap/install/morvantislog"
  cp -r "$work/tree" "$work/swap/staging"
  [ "$1" != old ] || cp -r "$work/tree/." "$work/swap/install/"
  sync
  "$root/tools/wine-run" "$copier" swap "Z:$(echo "$work/swap/install" | tr / '\\')" "Z:$(echo "$work/swap/staging" | tr / '\\')"
  [ "$(find "$work/swap/install" -type f ! -name .complete | wc -l)" = "$files" ] || { echo "incomplete swap" >&2; exit 1; }
  rm -rf "$work/swap"
}
echo "swap on the same volume, over an old installation of the same tree:"
swap_run old | sed 's/^/  /'
echo "swap on the same volume, into a folder holding only the log folder:"
swap_run fresh | sed 's/^/  /'
