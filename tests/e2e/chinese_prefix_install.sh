#!/bin/bash
# A whole installation by a build whose folder prefix is Chinese (遠航證券), so that the
# staging and installation folders are not ASCII, on systems whose code page is 950
# (zh_TW), 1252 (en_US) and 936 (zh_CN): the installed tree, update.ini, the terminal's
# "package" and "language" settings, the uninstall entry and the desktop shortcut are read
# back; update.ini and the package setting come out byte for byte the same on all three.
# The second build is configured here and builds only the install driver.
# Usage: chinese_prefix_install.sh <build-dir> <source-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$2
python=/usr/bin/python3
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=-all
folder_prefix=遠航證券
second=$build/chinese-prefix-build
work=$(mktemp -d)
store_pid=""

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" | head -n 1; }
code=$(cache_value MORVANTIS_PACKAGE_CODE)
key_id=$(cache_value MORVANTIS_STORE_KEY_ID)
key_secret=$(cache_value MORVANTIS_STORE_KEY_SECRET)
folder_name="$folder_prefix${code}v9.5"
user_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/ | grep -v '/Public/$' | head -n 1)
base="${user_dir}AppData/Local"
desktop="$WINEPREFIX/drive_c/users/Public/Desktop"
wine_cmd() { LANG=zh_CN.UTF-8 /usr/lib/wine/wine64 "$@" </dev/null 2>/dev/null; }

reset_machine() {
  rm -rf "${base:?}/$folder_name" "$base/${folder_name}temp"
  rm -f "$desktop"/*v9.5.lnk
  for view in "" "Wow6432Node\\"; do
    wine_cmd reg delete "HKLM\\Software\\${view}Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvantis_${code}v9.5" /f \
      >/dev/null 2>&1 || true
  done
}
cleanup() {
  local status=$?
  set +e
  [ -n "$store_pid" ] && kill "$store_pid" 2>/dev/null && wait "$store_pid" 2>/dev/null
  reset_machine
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -f "$build/standin/terminal.exe" ] || fail "$build/standin/terminal.exe is not built"
"$source/tools/wine-prefix" ensure

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if ! cmake -S "$source" -B "$second" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64.cmake" \
    -DMORVANTIS_FOLDER_PREFIX="$folder_prefix" -DMORVANTIS_PACKAGE_CODE="$code" \
    -DMORVANTIS_STORE_KEY_ID="$key_id" -DMORVANTIS_STORE_KEY_SECRET="$key_secret" "${launcher[@]}" \
    >"$work/configure.log" 2>&1; then
  tail -20 "$work/configure.log"
  fail "the build with the prefix $folder_prefix did not configure"
fi
cmake --build "$second" --target install_driver >"$work/build.log" 2>&1 || { tail -20 "$work/build.log"; fail "no install driver"; }
grep -q "107, \"$folder_prefix\"" "$second/generated/strings.rc" || fail "string 107 is not $folder_prefix"

"$python" "$source/tools/make_sample_release.py" --standin "$build/standin" --out "$work/release" \
  --package-code "$code" >/dev/null || fail "could not build the sample release"
"$python" "$source/tools/oss_store.py" --root "$work/release" --port 0 --port-file "$work/port" \
  ${key_id:+--key-id "$key_id"} ${key_secret:+--key-secret "$key_secret"} >"$work/store.log" 2>&1 &
store_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/store.log"; fail "the store did not start"; }
fix_version=$(sed -n "s/^$code=//p" "$work/release/9.5MOrvantisIE/summary.ini" | head -n 1 | tr -d '\r')

# hex: standard input as hex digits; utf16 TEXT: those of TEXT in UTF-16LE, to find it in binary files.
hex() { od -An -v -tx1 | tr -d ' \n'; }
utf16() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | hex; }

for pair in 1028:zh_TW.UTF-8:Zelmora香港 1033:en_US.UTF-8:"Zelmora HK" 2052:zh_CN.UTF-8:Zelmora香港; do
  language_id=${pair%%:*}
  rest=${pair#*:}
  lang=${rest%%:*}
  display="${rest#*:}v9.5"
  echo "== $lang"
  reset_machine
  status=0
  (cd "$second" && MORVANTIS_LANG=$lang "$source/tools/wine-run" test-programs/install_driver.exe \
    --endpoint "127.0.0.1:$(cat "$work/port")") >"$work/driver.out" 2>&1 || status=$?
  [ "$status" = 0 ] || { iconv -f GBK -t UTF-8 "$work/driver.out" >&2; fail "$lang: the installation ended with $status"; }

  installed="$base/$folder_name"
  [ -f "$installed/morvantis v9.5.exe" ] || fail "$lang: no terminal in $installed"
  [ ! -e "$base/${folder_name}temp" ] || fail "$lang: the staging folder is left"
  ls "$installed"/morvantislog/*install.log >/dev/null 2>&1 || fail "$lang: no install log"
  (cd "$installed" && find . -type f ! -path './morvantislog/*' | LC_ALL=C sort) >"$work/tree-$lang"
  tr -d '\r' <"$installed/update.ini" | grep -qx "cur=$fix_version" || fail "$lang: update.ini does not hold cur=$fix_version"
  cp "$installed/update.ini" "$work/update-$lang.ini"
  cp "$installed/config/morvantis.Default.pub" "$work/pub-$lang"
  tr -d '\r' <"$installed/config/morvantis.Default.pub" | grep -qx "package=$code" || fail "$lang: package setting missing"
  tr -d '\r' <"$installed/config/morvantis.Default.pri" | grep -qx "language=$language_id" ||
    fail "$lang: language setting is not $language_id"

  exported=""
  for view in "Wow6432Node\\" ""; do
    if wine_cmd reg export "HKLM\\Software\\${view}Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvantis_${code}v9.5" \
        "Z:$(echo "$work/entry.reg" | tr / '\\')" /y >/dev/null; then
      exported=$(iconv -f UTF-16 -t UTF-8 "$work/entry.reg" | tr -d '\r')
      break
    fi
  done
  [ -n "$exported" ] || fail "$lang: no uninstall entry"
  grep -qF "\"UninstallString\"=\"\\\"C:\\\\users\\\\" <<<"$exported" || fail "$lang: uninstall entry: $exported"
  grep -qF '\\AppData\\Local\\'"$folder_name"'\\uninstall.exe\""' <<<"$exported" || fail "$lang: uninstall entry: $exported"
  grep -qF "\"DisplayName\"=\"$display\"" <<<"$exported" || fail "$lang: display name: $exported"

  shortcut="$desktop/$display.lnk"
  [ -f "$shortcut" ] || fail "$lang: no shortcut $shortcut"
  hex <"$shortcut" | grep -q "$(utf16 "$folder_name")" || fail "$lang: the shortcut does not name $folder_name"
done

for lang in zh_TW.UTF-8 en_US.UTF-8; do
  cmp -s "$work/tree-$lang" "$work/tree-zh_CN.UTF-8" || fail "$lang: another tree than on code page 936"
  cmp -s "$work/update-$lang.ini" "$work/update-zh_CN.UTF-8.ini" || fail "$lang: update.ini differs from code page 936's"
  cmp -s "$work/pub-$lang" "$work/pub-zh_CN.UTF-8" || fail "$lang: the package setting file differs from code page 936's"
done
echo "PASS"
