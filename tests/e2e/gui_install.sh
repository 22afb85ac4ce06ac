#!/bin/bash
# A person installs the terminal with the real installer under Wine: the start page, the
# custom view, the folder picker (cancelled, then a folder chosen), Install, the progress
# page, the finish page and Open. Checks the window, the pages' pixels and what the
# installation left behind: tree, version record, registry, shortcut, log, and the
# terminal started with "end" in the installation folder.
# Usage: gui_install.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
. "$source/tests/e2e/gui_lib.bash"

reset_machine
make_store good
start_store good --throttle 150000
start_installer zh_CN.UTF-8

echo "== the window: 500 x 310, centred on the screen"
[ "$win_w" = 500 ] && [ "$win_h" = 310 ] || fail "the window is ${win_w} x ${win_h}"
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
[ "$win_x" = $(((screen_w - 500) / 2)) ] && [ "$win_y" = $(((screen_h - 310) / 2)) ] ||
  fail "the window is at $win_x,$win_y on a ${screen_w} x ${screen_h} screen"

echo "== start page: the action button, its hover colour, the close box"
park
f=$(shot install-start)
[ "$(page_of "$f")" = start ] || fail "the start page is not shown"
expect_pixel "$f" 203 236 "165,21,16" "action button"
expect_pixel "$f" 484 8 "231,231,231" "close box"
xdotool mousemove --sync $((win_x + 250)) $((win_y + 220))
sleep 0.4
expect_pixel "$(shot install-start-hover)" 203 236 "125,13,7" "hovered action button"

echo "== custom view and the folder picker"
click 440 300
park
f=$(shot install-custom)
expect_pixel "$f" 113 177 "165,21,16" "path field"
expect_pixel "$f" 423 177 "165,21,16" "Browse button"
path_before=$(region_hash "$f" 300 20 114 158)
click 445 167
picker=$(wait_other_window) || fail "the folder picker did not open"
press_button "$picker" 3  # Cancel
park
[ "$(region_hash "$(shot install-custom-cancelled)" 300 20 114 158)" = "$path_before" ] ||
  fail "a cancelled picker changed the folder"
click 445 167
picker=$(wait_other_window) || fail "the folder picker did not open again"
press_button "$picker" 2  # OK, on the preselected desktop folder
park
[ "$(region_hash "$(shot install-custom-chosen)" 300 20 114 158)" != "$path_before" ] ||
  fail "the chosen folder is not shown"
target=$(user_dir)Desktop/$folder_name

echo "== install: the progress page"
click 250 220
wait_for_page installing 30
park
filled=""
for _ in $(seq 120); do
  f=$(shot install-progress)
  [ "$(pixel "$f" 39 267)" = "252,115,115" ] && { filled=1; break; }
  [ "$(page_of "$f")" = installing ] || break
  sleep 0.1
done
[ -n "$filled" ] || fail "the progress bar never filled"
[ "$(page_of "$f")" = installing ] || fail "the progress page went away too soon"
expect_pixel "$f" 250 300 "255,255,255" "white band"
[ "$(pixel "$f" 484 8)" != "231,231,231" ] || fail "a close box is drawn while installing"
# The close-box spot does nothing while installing.
click 488 12
sleep 0.5
[ "$(page_of "$(shot poll)")" != unknown ] || fail "the window went away on the hidden close box"
# Nor does the keyboard close command while the worker runs.
click 250 100
xdotool key alt+F4
sleep 1
[ "$(page_of "$(shot poll)")" != unknown ] || fail "Alt+F4 closed the window while installing"

echo "== finish page and Open"
wait_for_page finished 90
park
f=$(shot install-finished)
expect_pixel "$f" 203 236 "165,21,16" "Open button"
click 250 220
[ "$(wait_installer_exit)" = 0 ] || fail "exit code $(cat "$work/installer.rc")"

echo "== what the installation left behind"
check_installation "$target" good
[ ! -d "$(default_install)" ] || fail "the default folder was used although another was chosen"
for _ in $(seq 50); do [ -s "$(launch_record)" ] && break; sleep 0.1; done
record=$(iconv -f UTF-8 -t UTF-8 "$(launch_record)" 2>/dev/null | tail -n 1 || true)
echo "$record" | grep -q "cwd=C:\\\\users\\\\[^\\\\]*\\\\Desktop\\\\$folder_name$(printf '\t')" ||
  fail "the terminal did not start in the installation folder: $record"
case "$record" in
  *"cmdline=\"C:\\users\\"*"\\Desktop\\$folder_name\\morvantis v9.5.exe\" end") ;;
  *) fail "the terminal's command line: $record" ;;
esac
echo "PASS"
