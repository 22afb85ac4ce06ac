#!/bin/bash
# An installation that fails: the store lacks the configuration package. The failure page
# shows the failed step's name with the failure word at the top right of the status area,
# the log records the step, and after the close box the staging folder is gone and the
# installer ends with exit code 0. Usage: gui_failure.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
. "$source/tests/e2e/gui_lib.bash"

reset_machine
make_store broken
rm "$work/broken/9.5MOrvantisIE/config.zip"
start_store broken
start_installer zh_CN.UTF-8
click 250 220
wait_for_page failed 60
park
f=$(shot failure-page)
echo "== the failure text sits at the top right of the status area, alone"
[ "$(dark_share "$f" 120 20 346 234)" != 0 ] || fail "no failure text at the right of the status area"
[ "$(dark_share "$f" 150 20 32 234)" = 0 ] || fail "text at the left of the status area: the step line or more"
expect_pixel "$f" 484 8 "231,231,231" "close box on the failure page"
expect_pixel "$f" 250 300 "255,255,255" "white band"
expect_pixel "$f" 39 267 "252,115,115" "the bar keeps its last value"

echo "== the log names the step; the staging folder waits for the close box"
log=$(ls "$(default_install)"/morvantislog/*install.log | head -n 1)
iconv -f GBK -t UTF-8 "$log" | grep -q "下载配置文件" || fail "the log does not name the failed step: $(iconv -f GBK -t UTF-8 "$log")"
staging=$(local_appdata)/${folder_name}temp
[ -d "$staging" ] || fail "no staging folder while the failure page shows"
click 488 12
[ "$(wait_installer_exit)" = 0 ] || fail "exit code $(cat "$work/installer.rc")"
[ ! -e "$staging" ] || fail "the staging folder is still there after the close box"
[ ! -e "$(launch_record)" ] || fail "a terminal was started"
echo "PASS"
