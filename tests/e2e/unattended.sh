#!/bin/bash
# Unattended installation from the command line (/S, /D=, /LOG=) under Wine: exit codes,
# what the installation leaves behind (the same checks as the window's installation),
# a failed step leaving the old installation as it was, a folder that cannot be made,
# two copies at once (the second one, unattended or in its window, is refused), and a bad
# command line. Wine passes the low 8 bits of an exit code to the shell: 1618 reads 82.
# Usage: unattended.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
. "$source/tests/e2e/gui_lib.bash"

# setup ARGS...: runs the installer in the foreground; prints its exit status.
setup() {
  local status=0
  (cd "$build" && MORVANTIS_LANG=zh_CN.UTF-8 "$source/tools/wine-run" "$build/MorvantisSetup.exe" "$@" \
    >"$work/${setup_out:-setup.out}" 2>&1) || status=$?
  echo "$status"
}
# Windows path of a folder below the user's profile.
user_name=$(basename "$(user_dir)")
windows_profile="C:\\users\\$user_name"
no_windows() {  # during an unattended run, nothing may appear on the screen
  ! xdotool search --onlyvisible --name '.' >/dev/null 2>&1
}

reset_machine
make_store good
start_store good

echo "== a bad command line: exit 87, the usage, nothing installed"
[ "$(setup /S /Q)" = 87 ] || fail "exit $(setup /S /Q) for an unknown switch"
grep -q "/Q" "$work/setup.out" && grep -q "/LOG=" "$work/setup.out" || fail "no usage: $(cat "$work/setup.out")"
[ "$(setup /S /D=relative\\folder)" = 87 ] || fail "a relative /D= was accepted"
[ "$(setup /S /LOG=)" = 87 ] || fail "an empty /LOG= was accepted"
[ ! -e "$(default_install)" ] && [ ! -e "$(local_appdata)/${folder_name}temp" ] || fail "a bad command line installed"
[ "$(setup /h)" = 0 ] && grep -q "/D=" "$work/setup.out" || fail "/h: $(cat "$work/setup.out")"

echo "== /S /LOG= /D= with spaces, unquoted: installed there, log copy in UTF-8, no terminal"
parent_unix="$(user_dir)Deploy Target Folder"
rm -rf "$parent_unix" "$(user_dir)plain-file"
mkdir -p "$parent_unix"
# Separate arguments reach the installer joined by single spaces, without quotes.
status=$(setup /S "/LOG=$windows_profile\\setup-copy.log" "/D=$windows_profile\\Deploy" Target Folder)
[ "$status" = 0 ] || fail "exit $status: $(cat "$work/setup.out")"
check_installation "$parent_unix/$folder_name" good
[ ! -e "$(default_install)" ] || fail "the default folder was used although /D= named another"
grep -q '^awaredpi=' "$parent_unix/$folder_name/config/morvantis.Default.pri" || fail "no scaling setting"
[ ! -e "$(launch_record)" ] || fail "the terminal was started"
copy="$(user_dir)setup-copy.log"
[ "$(head -c 3 "$copy" | xxd -p)" != efbbbf ] || fail "the log copy starts with a byte-order mark"
iconv -f UTF-8 -t UTF-8 "$copy" >/dev/null || fail "the log copy is not UTF-8"
[ "$(grep -c $'\r$' "$copy")" = "$(wc -l <"$copy")" ] || fail "a line of the log copy does not end in CR LF"
log=$(ls "$parent_unix/$folder_name"/morvantislog/*install.log)
iconv -f GBK -t UTF-8 "$log" >"$work/log.txt"
cmp -s "$work/log.txt" <(head -c "$(stat -c %s "$work/log.txt")" "$copy") ||
  fail "the log copy does not begin with the install log's lines: $(diff "$work/log.txt" "$copy")"
grep -q "用户点击安装，安装开始" "$copy" || fail "the log copy lacks the header"

echo "== /S into the default folder, as the window installs"
status=$(setup /S)
[ "$status" = 0 ] || fail "exit $status"
check_installation "$(default_install)" good

echo "== /S with the configuration package missing: exit 103, the old installation as it was"
make_store broken
rm "$work/broken/9.5MOrvantisIE/config.zip"
start_store broken
# A program running from the staging folder keeps it from being removed at exit; the
# log file is closed by then, so the cause reaches only the copy.
staging_unix="$(local_appdata)/${folder_name}temp"
mkdir -p "$staging_unix"
cp "$build/standin/terminal.exe" "$staging_unix/holder.exe"
rm -f "$(launch_record)"
(MORVANTIS_STANDIN_EXIT_MS=300000 wine_cmd "C:\\users\\$user_name\\AppData\\Local\\${folder_name}temp\\holder.exe" || true) &
holder=$!
for _ in $(seq 300); do
  grep -q holder "$(launch_record)" 2>/dev/null && break
  sleep 0.1
done
grep -q holder "$(launch_record)" || fail "the program in the staging folder did not start"
status=$(setup /S "/LOG=$windows_profile\\setup-copy.log")
wine_cmd taskkill /f /im holder.exe >/dev/null || true
wait "$holder" || true
rm -rf "$staging_unix" "$(launch_record)"
[ "$status" = 103 ] || fail "exit $status"
check_installation "$(default_install)" good
iconv -f GBK -t UTF-8 "$(ls -t "$(default_install)"/morvantislog/*install.log | head -n 1)" | grep -q "下载配置文件失败" ||
  fail "the log does not name the failed step"
tail -n 1 "$copy" | grep -q "删除失败：C:\\\\users\\\\$user_name\\\\AppData\\\\Local\\\\${folder_name}temp (错误码 5)" ||
  fail "the staging folder left at exit is not named with its cause: $(tail -n 3 "$copy")"

echo "== /S with a file that cannot be written while unpacking: answered Abort, exit 108"
make_store clash
# The configuration package brings a file named like a folder the base package made.
"$python" - "$work/clash/9.5MOrvantisIE/config.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a") as archive:
    archive.writestr("bin", "a file where a folder is")
PY
resign_store clash
start_store clash
status=$(setup /S "/LOG=$windows_profile\\setup-copy.log")
[ "$status" = $((100 + 8)) ] || fail "exit $status"
check_installation "$(default_install)" good
grep -q '无法覆盖文件"bin"' "$copy" || fail "the answered box is not in the log copy: $(cat "$copy")"

echo "== /S into a folder that cannot be made: exit 1, no box, nothing staged"
echo "a file, not a folder" >"$(user_dir)plain-file"
status=$(setup /S "/LOG=$windows_profile\\setup-copy.log" "/D=$windows_profile\\plain-file")
[ "$status" = 1 ] || fail "exit $status"
iconv -f UTF-8 -t UTF-8 "$copy" | grep -q "提示" || fail "the unanswered box is not in the log copy: $(cat "$copy")"
[ ! -e "$(local_appdata)/${folder_name}temp" ] || fail "the staging folder was left behind"

echo "== two copies at once: the second is refused, unattended (1618) and in its window"
start_store good --throttle 60000
reset_machine
(setup_out=first.out setup /S >"$work/first.rc") &
first=$!
for _ in $(seq 300); do
  [ -d "$(local_appdata)/${folder_name}temp" ] && break
  sleep 0.1
done
[ -d "$(local_appdata)/${folder_name}temp" ] || fail "the first copy never staged"
no_windows || fail "the unattended copy shows a window"
status=$(setup /S)
[ "$status" = $((1618 % 256)) ] || fail "the second copy ended with $status"
# The window copy starts with a folder of its own: shown in the custom view, as if picked.
start_installer zh_CN.UTF-8 "/D=$windows_profile\\Deploy" Target Folder
park
expect_pixel "$(shot second-copy-start)" 113 177 "165,21,16" "the custom view's path field"
click 250 220
box=$(wait_other_window) || fail "the window copy did not refuse with a box"
[ "$(xdotool getwindowname "$box")" = "警告" ] || fail "the refusal's title: $(xdotool getwindowname "$box")"
shot second-copy-refused >/dev/null
press_button "$box" 1
park
[ "$(page_of "$(shot poll)")" = start ] || fail "the refused copy left its start page"
click 488 12
[ "$(wait_installer_exit)" = 0 ] || fail "the refused window copy's exit code"
wait "$first"
[ "$(cat "$work/first.rc")" = 0 ] || fail "the first copy ended with $(cat "$work/first.rc")"
check_installation "$(default_install)" good
echo "PASS"
