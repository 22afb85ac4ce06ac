#!/bin/bash
# Every page in the three languages, as the user's interface language picks them:
# start, custom view, installing, finished (a good store) and failed (a store without
# the configuration package; left by the close box, in English by Alt+F4, and either
# way the staging folder goes). The screenshots stay in <build>/gui-screenshots as
# <language>-<page>.png. Usage: gui_languages.sh <build-dir> <source-dir>
set -euo pipefail
build=$1
source=$2
. "$source/tests/e2e/gui_lib.bash"

make_store good
make_store broken
rm "$work/broken/9.5MOrvantisIE/config.zip"

# keep LANGUAGE PAGE: the page must be on screen; its screenshot is kept.
keep() {
  local f
  f=$(shot "$1-$2")
  [ "$(page_of "$f")" = "$2" ] || [ "$2" = custom ] || fail "$1: the $2 page is not shown"
}

for pair in CHS:zh_CN.UTF-8 CHT:zh_TW.UTF-8 ENU:en_US.UTF-8; do
  name=${pair%%:*}
  language=${pair#*:}
  echo "== $name ($language)"
  reset_machine
  start_store good --throttle 150000
  start_installer "$language"
  park
  keep "$name" start
  click 440 300
  park
  keep "$name" custom
  click 440 300
  click 250 220
  wait_for_page installing 30
  park
  for _ in $(seq 100); do
    [ "$(pixel "$(shot poll)" 39 267)" = "252,115,115" ] && break
    sleep 0.1
  done
  keep "$name" installing
  wait_for_page finished 90
  park
  keep "$name" finished
  click 488 12
  [ "$(wait_installer_exit)" = 0 ] || fail "$name: exit code after the finish page"

  reset_machine
  start_store broken
  start_installer "$language"
  click 250 220
  wait_for_page failed 60
  park
  keep "$name" failed
  if [ "$name" = ENU ]; then
    click 250 100  # activates the window
    xdotool key alt+F4
  else
    click 488 12
  fi
  [ "$(wait_installer_exit)" = 0 ] || fail "$name: exit code after the failure page"
  [ ! -e "$(local_appdata)/${folder_name}temp" ] || fail "$name: the staging folder outlived the failure page"
done
rm -f "$shots/poll.png"
echo "PASS"
