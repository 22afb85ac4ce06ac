# Shared steps of the end-to-end tests of the real installer window (sourced by
# tests/e2e/gui_*.sh): a local store serving the sample release, the installer under
# Wine in a virtual display, clicks through xdotool and screenshots through ImageMagick.
# Expects: build, source (folders); sets work, shots, prefix.

python=/usr/bin/python3
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=-all
# The stand-in terminal closes itself, so no test leaves a window behind.
export MORVANTIS_STANDIN_EXIT_MS=${MORVANTIS_STANDIN_EXIT_MS:-4000}
prefix=$WINEPREFIX
work=$(mktemp -d)
shots=${GUI_SHOTS:-$build/gui-screenshots}
mkdir -p "$shots"
store_pid=""
installer_pid=""
window=""
win_x=0
win_y=0

fail() {
  echo "FAIL: $*" >&2
  [ -n "$window" ] && shot "failure-$(date +%H%M%S)" >/dev/null 2>&1
  exit 1
}

gui_cleanup() {
  local status=$?
  set +e
  if [ -n "$installer_pid" ]; then
    # The installer this test started, found by its window, must not outlive the test.
    [ -n "$window" ] && kill "$(xdotool getwindowpid "$window" 2>/dev/null)" 2>/dev/null
    kill "$installer_pid" 2>/dev/null
  fi
  stop_store
  rm -rf "$work"
  exit "$status"
}
trap gui_cleanup EXIT

[ -n "$DISPLAY" ] || fail "no X display: run under xvfb-run"
[ -x "$build/MorvantisSetup.exe" ] || fail "$build/MorvantisSetup.exe is not built"

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" | head -n 1; }
code=$(cache_value MORVANTIS_PACKAGE_CODE)
folder_prefix=$(cache_value MORVANTIS_FOLDER_PREFIX)
folder_name="${folder_prefix:-MOrvantis}${code}v9.5"
# The store answers on the build's endpoint port with the build's key.
store_endpoint=$(cache_value MORVANTIS_STORE_ENDPOINT)
store_port=$(printf '%s\n' "$store_endpoint" | sed -n 's|^\(https\?://\)\{0,1\}[^:/]*:\([0-9]*\).*|\2|p')
store_port=${store_port:-80}
store_key_id=$(cache_value MORVANTIS_STORE_KEY_ID)
store_key_secret=$(cache_value MORVANTIS_STORE_KEY_SECRET)
# The sample release's signing options for this build: none without a release key.
release_signing_options() {
  local key
  key=$(cache_value MORVANTIS_RELEASE_KEY)
  [ -z "$key" ] || echo "--sign-key $source/tools/release-keys/DEMO-ONLY-release-private.pem --sign-public $key"
}
"$source/tools/wine-prefix" ensure

# Windows paths of the prefix as Unix paths.
user_dir() { ls -d "$prefix"/drive_c/users/*/ | grep -v '/Public/$' | head -n 1; }
local_appdata() { echo "$(user_dir)AppData/Local"; }
default_install() { echo "$(local_appdata)/$folder_name"; }
launch_record() { echo "$(user_dir)Temp/morvantis-standin-launches.txt"; }
public_desktop() { echo "$prefix/drive_c/users/Public/Desktop"; }

# A fresh machine as far as the installer can tell: no installation, no staging folder,
# no shortcut, no uninstall entry, no record of terminal starts.
reset_machine() {
  local base
  base=$(local_appdata)
  rm -rf "$base/$folder_name" "$base/${folder_name}temp" "$(user_dir)Desktop/$folder_name" "$(launch_record)"
  rm -f "$(public_desktop)"/*v9.5.lnk
  for view in "" "Wow6432Node\\"; do
    wine_cmd reg delete "HKLM\\Software\\${view}Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvantis_${code}v9.5" /f >/dev/null 2>&1 || true
  done
}

wine_cmd() { LANG=zh_CN.UTF-8 /usr/lib/wine/wine64 "$@" </dev/null 2>/dev/null; }

# make_store NAME [release options]: the sample release in $work/NAME, signed with the
# demonstration key when the build has a release key.
make_store() {
  local name=$1
  shift
  "$python" "$source/tools/make_sample_release.py" --standin "$build/standin" --out "$work/$name" \
    --package-code "$code" $(release_signing_options) "$@" >/dev/null || fail "could not build the sample release"
}

# resign_store NAME: signs $work/NAME again after a test changed its objects (nothing
# for a build without a release key).
resign_store() {
  local key
  key=$(cache_value MORVANTIS_RELEASE_KEY)
  [ -z "$key" ] || "$python" "$source/tools/release" sign "$work/$1" --public "$key" \
    --key "$source/tools/release-keys/DEMO-ONLY-release-private.pem" >/dev/null || fail "could not sign $1 again"
}

# start_store NAME [store options]: serves $work/NAME on the build's port, with the
# build's key, until stopped.
start_store() {
  local name=$1
  shift
  stop_store
  rm -f "$work/port"
  "$python" "$source/tools/oss_store.py" --root "$work/$name" --port "$store_port" --port-file "$work/port" \
    ${store_key_id:+--key-id "$store_key_id"} ${store_key_secret:+--key-secret "$store_key_secret"} \
    --access-log "$work/access.log" "$@" >"$work/store.log" 2>&1 &
  store_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/port" ] && return 0
    kill -0 "$store_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/store.log" >&2
  fail "the store did not start on port $store_port"
}

stop_store() {
  [ -n "$store_pid" ] || return 0
  kill "$store_pid" 2>/dev/null || true
  wait "$store_pid" 2>/dev/null || true
  store_pid=""
}

# start_installer [LANG [ARGUMENTS...]]: runs the installer ($installer_exe, by default
# the build's) and waits for its window.
start_installer() {
  local language=${1:-zh_CN.UTF-8}
  shift || true
  (cd "$build" && MORVANTIS_LANG=$language "$source/tools/wine-run" "${installer_exe:-$build/MorvantisSetup.exe}" "$@" >"$work/installer.out" 2>&1
   echo $? >"$work/installer.rc") &
  installer_pid=$!
  rm -f "$work/installer.rc"
  window=""
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name '^Morvantis$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no installer window appeared"
  # The window is shown before it is given its size and place: under load the first
  # look can see it still 1 x 1, so wait for the size to settle.
  for _ in $(seq 50); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" -gt 1 ] && break
    sleep 0.1
  done
  win_x=$X
  win_y=$Y
  win_w=$WIDTH
  win_h=$HEIGHT
  sleep 0.5  # the first paint
}

# wait_installer_exit: the installer's exit code (fails after 60 s).
wait_installer_exit() {
  for _ in $(seq 600); do
    if [ -f "$work/installer.rc" ]; then
      installer_pid=""
      window=""
      cat "$work/installer.rc"
      return 0
    fi
    sleep 0.1
  done
  fail "the installer did not end"
}

# click X Y: a left click at a point of the installer window's client area.
click() {
  xdotool mousemove --sync "$((win_x + $1))" "$((win_y + $2))" click 1
  sleep 0.3
}

# park: moves the cursor off the window, so no hover colour shows.
park() { xdotool mousemove --sync 5 5; sleep 0.3; }

# shot NAME: the window as the screen shows it, kept in $shots/NAME.png; prints the path.
shot() {
  import -window root -crop "500x310+$win_x+$win_y" +repage "$shots/$1.png" || fail "screenshot $1"
  echo "$shots/$1.png"
}

# pixel FILE X Y: "r,g,b" of one pixel.
pixel() {
  convert "$1" -format "%[fx:round(255*p{$2,$3}.r)],%[fx:round(255*p{$2,$3}.g)],%[fx:round(255*p{$2,$3}.b)]" info:
}

expect_pixel() {  # FILE X Y "r,g,b" what
  local got
  got=$(pixel "$1" "$2" "$3")
  [ "$got" = "$4" ] || fail "$5: pixel ($2,$3) of $(basename "$1") is $got, not $4"
}

# dark_share FILE W H X Y: the share of dark pixels (text) in a region, 0..1.
dark_share() {
  convert "$1" -crop "$2x$3+$4+$5" +repage -colorspace Gray -threshold 40% -negate -format '%[fx:mean]' info:
}

# region_hash FILE W H X Y: a digest of a region, to tell whether it changed.
region_hash() { convert "$1" -crop "$2x$3+$4+$5" +repage rgb:- | md5sum | cut -d' ' -f1; }

# wait_for_page PAGE: polls the screen until the window shows the page
# (start | installing | failed | finished); fails after the given seconds (default 60).
wait_for_page() {
  local page=$1 limit=${2:-60} file
  for _ in $(seq $((limit * 4))); do
    # An installer that has ended shows no page any more: no use waiting for one.
    [ -f "$work/installer.rc" ] && fail "the installer ended (exit code $(cat "$work/installer.rc")) before the $page page"
    file=$(shot "poll")
    if [ "$(page_of "$file")" = "$page" ]; then
      rm -f "$file"
      return 0
    fi
    sleep 0.25
  done
  fail "the window did not reach the $page page (it shows: $(page_of "$file"))"
}

# page_of FILE: which page a screenshot shows, from pixels that only that page has:
# the white band (progress and failure pages), the close box (not while installing),
# the action button (start and finish pages) and the custom link (start page only).
page_of() {
  local band close button
  band=$(pixel "$1" 250 300)
  close=$(pixel "$1" 484 8)
  button=$(pixel "$1" 203 236)
  if [ "$band" = "255,255,255" ]; then
    if [ "$close" = "231,231,231" ]; then echo failed; else echo installing; fi
  elif [ "$button" = "165,21,16" ] || [ "$button" = "125,13,7" ]; then
    if link_visible "$1"; then echo start; else echo finished; fi
  else
    echo unknown
  fi
}

# link_visible FILE: light text in the custom link's corner (the hills there are dark).
link_visible() {
  local brightest
  brightest=$(convert "$1" -crop 95x20+400+290 +repage -channel G -separate -format '%[fx:round(255*maxima)]' info:)
  [ "$brightest" -gt 120 ]
}

# box_buttons WINDOW: the screen centres of a system box's push buttons, left to right,
# one "x y" a line, found from the buttons' dark lower edges in a screenshot.
box_buttons() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$work/box.png"
  "$python" - "$work/box.png" "$X" "$Y" <<'PY'
import sys
from PIL import Image
image = Image.open(sys.argv[1]).convert("RGB")
left, top = int(sys.argv[2]), int(sys.argv[3])
width, height = image.size
edges = []  # (x0, x1, y) of dark horizontal runs as wide as a button
for y in range(height // 3, height):
    start = None
    for x in range(width + 1):
        dark = x < width and max(image.getpixel((x, y))) < 130
        if dark and start is None:
            start = x
        elif not dark and start is not None:
            if 30 <= x - start <= 0.6 * width:
                edges.append((start, x, y))
            start = None
buttons = []
for x0, x1, y in edges:
    for button in buttons:
        if abs((button[0] + button[1]) - (x0 + x1)) < 20:
            button[2] = max(button[2], y)
            break
    else:
        buttons.append([x0, x1, y])
for x0, x1, y in sorted(buttons):
    print(left + (x0 + x1) // 2, top + y - 10)
PY
}

# check_installation FOLDER STORE: what an installation of $work/STORE leaves behind in
# FOLDER (a Unix path): the release's tree and files, the version record, the log with
# its header, the uninstall entry naming FOLDER, the all-users shortcut, no staging folder.
check_installation() {
  local target=$1 store=$2 entry windows_target
  [ -d "$target" ] || fail "nothing installed in $target"
  (cd "$target" && find . -type f ! -path './morvantislog/*' ! -name update.ini | sed 's|^\./||' | LC_ALL=C.UTF-8 sort) >"$work/tree.txt"
  diff -u "$work/$store/expected-tree.txt" "$work/tree.txt" || fail "the installed tree differs from the release"
  (cd "$target" && sha256sum -c --quiet "$work/$store/expected-sha256.txt") || fail "installed files differ from the release"
  grep -q '\[' "$target/update.ini" || fail "no version record"
  ls "$target"/morvantislog/*install.log >/dev/null 2>&1 || fail "no install.log"
  grep -q "Version: IE_9.5.9.1" "$target"/morvantislog/*install.log || fail "the log has no header line"
  entry=$(uninstall_entry) || fail "no uninstall entry"
  windows_target=$(basename "$(dirname "$target")")
  echo "$entry" | grep -q "UninstallString.*$windows_target.*$folder_name.*uninstall.exe" || fail "uninstall entry: $entry"
  ls "$(public_desktop)"/*v9.5.lnk >/dev/null 2>&1 || fail "no shortcut on the all-users desktop"
  [ ! -d "$(local_appdata)/${folder_name}temp" ] || fail "the staging folder was left behind"
}

# The uninstall entry of this build as the registry shows it (either registry view).
uninstall_entry() {
  local view
  for view in "Wow6432Node\\" ""; do
    wine_cmd reg query "HKLM\\Software\\${view}Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvantis_${code}v9.5" && return 0
  done
  return 1
}

# wait_other_window: the first visible window that is not the installer's (10 s), such
# as a message box or the folder picker.
wait_other_window() {
  local id
  for _ in $(seq 100); do
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
      [ "$id" != "$window" ] && { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}

# wait_gone WINDOW: until the window is no longer shown (10 s).
wait_gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  fail "window $1 is still shown"
}

# press_button WINDOW N: clicks the Nth push button (1 = leftmost) of a system box.
press_button() {
  local x y
  read -r x y < <(box_buttons "$1" | sed -n "${2}p")
  [ -n "$x" ] || fail "no button $2 in window $1"
  xdotool mousemove --sync "$x" "$y" click 1
  wait_gone "$1"
  sleep 0.3
}
