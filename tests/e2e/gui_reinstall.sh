#!/bin/bash
# Installing over an earlier installation: Install shows the reinstall warning; Cancel
# leaves the start page and the old files as they were; OK replaces the installation.
# The finish page's close box ends the installer without starting the terminal.
# Usage: gui_reinstall.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
. "$source/tests/e2e/gui_lib.bash"

reset_machine
old=$(default_install)
mkdir -p "$old"
echo "earlier edition" >"$old/old-file.txt"
make_store good
start_store good
start_installer zh_CN.UTF-8

echo "== Install, then Cancel on the warning"
click 250 220
box=$(wait_other_window) || fail "no reinstall warning"
shot reinstall-warning >/dev/null
press_button "$box" 2
park
[ "$(page_of "$(shot poll)")" = start ] || fail "Cancel left the start page"
[ -f "$old/old-file.txt" ] || fail "Cancel touched the old installation"
[ ! -d "$(local_appdata)/${folder_name}temp" ] || fail "Cancel made a staging folder"

echo "== Install, then OK on the warning"
click 250 220
box=$(wait_other_window) || fail "no reinstall warning the second time"
press_button "$box" 1
wait_for_page finished 90
[ ! -e "$old/old-file.txt" ] || fail "the old installation was not replaced"
[ -f "$old/morvantis v9.5.exe" ] || fail "the new installation is not in place"
park
click 488 12
[ "$(wait_installer_exit)" = 0 ] || fail "exit code $(cat "$work/installer.rc")"
[ ! -e "$(launch_record)" ] || fail "the close box started the terminal"
grep -q '^awaredpi=' "$old/config/morvantis.Default.pri" || fail "the close box did not write the scaling setting"
echo "PASS"
