#!/usr/bin/env bash
# End to end with the real executable in a real X server (Xvfb), driven with
# the mouse and the keyboard (xdotool), printing on the sandbox's queues.
#  1. A profile with one hot folder: Start, an image dropped into the
#     folder, the job captured by the sandbox's backend, the file gone;
#     SIGTERM, and the profile still holds the hot folder.
#  2. No profile: a hot folder made with New, typed into the properties
#     dialog; Start, an image printed, Exit, and the profile on disk holds
#     the new hot folder.
# Prints on a scheduler of its own.
#   e2e_xvfb.sh TALLOWIN
set -euo pipefail
exe=$1
. "$(dirname "$0")/own_scheduler.sh"
. "$(dirname "$0")/placed_size.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowin-e2e.XXXXXX")
xvfb_pid= app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  stop_own_scheduler
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && tail -n 20 "$work/app.log" >&2; exit 1; }

export HOME=$work/home
unset XDG_CONFIG_HOME
profile=$HOME/.config/tallowin/tallowin.ini
hot=$work/hot
mkdir -p "$(dirname "$profile")" "$hot"

# A display of our own. Without a window manager the keyboard goes to the
# window under the pointer.
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display") QT_QPA_PLATFORM=xcb

# Button and field centres, from the window templates.
start_button=(847 44) new_button=(847 201) exit_button=(847 357)
name_field=(182 50) printer_field=(255 91) path_field=(255 130) scan_field=(150 170) ok_button=(106 232)

start_app() {
  "$exe" > "$work/app.log" 2>&1 &
  app_pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tallowin$' | head -n 1) ||
    fail "the main window did not appear"
}
click() {  # window x y
  xdotool mousemove --sync --window "$1" "$2" "$3" click 1
  sleep 0.2
}
type_into() {  # window x y text: replaces the field's text
  click "$1" "$2" "$3"
  xdotool key ctrl+a
  xdotool type --delay 20 "$4"
}
# Drops a new image into the hot folder and waits for its job; prints the
# captured data file.
print_one() {  # queue
  local name="e2e-$$-$RANDOM.jpg" out job=
  vips black "$work/black.v" 600 400 --bands 3
  vips linear "$work/black.v" "$work/grey.v" 1 200
  vips cast "$work/grey.v" "$work/$name" uchar
  mv "$work/$name" "$hot/$name"  # dropped whole, as a file manager would
  out=$(dirname "$CUPS_SERVER")/output/$1
  for _ in $(seq 400); do
    for title in "$out"/job-*.title; do
      [ -f "$title" ] && [ "$(cat "$title")" = "$name" ] && [ -f "${title%.title}.data" ] && job=${title%.title}.data
    done
    [ -n "$job" ] && break
    sleep 0.1
  done
  [ -n "$job" ] || fail "no job named $name was captured on $1"
  # Deleted at the first scan after the scheduler reports the job completed.
  for _ in $(seq 150); do [ -e "$hot/$name" ] || break; sleep 0.1; done
  [ ! -e "$hot/$name" ] || fail "the printed file $name was not deleted"
  echo "$job"
}
wait_app() {
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" = 0 ] || fail "exit status $status"
}

# 1. From the profile.
printf '[Init]\nFHNumber=1\nVersion=1\n[HotFolder0]\nFolderPath=%s\nPrinterName=tallowin-600\nName=Drop here\nScanTime=1\n' "$hot" > "$profile"
start_app
click "$wid" "${start_button[@]}"
job=$(print_one tallowin-600)
pdfinfo "$job" | grep -q '^Pages: *1$' || fail "the job is not one page"
# 600 x 400 pixels at 72 dpi on the 600 dpi queue: scaled down to 4800 x 3200.
[ "$(placed_size "$job" 600)" = "4800 3200" ] || fail "the image is not 4800 x 3200 printer pixels"
kill -TERM "$app_pid"
wait_app
grep -q '^Name=Drop here$' "$profile" || fail "the hot folder is not in the saved profile"
echo "ok: a hot folder from the profile prints a dropped image, and SIGTERM saves it"

# 2. Made with New.
rm -f "$profile"
start_app
click "$wid" "${new_button[@]}"
dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Hot Folder properties$' | head -n 1) ||
  fail "the properties dialog did not open"
type_into "$dialog" "${name_field[@]}" "Made with New"
type_into "$dialog" "${printer_field[@]}" "tallowin-300"
type_into "$dialog" "${path_field[@]}" "$hot"
type_into "$dialog" "${scan_field[@]}" "5"
click "$dialog" "${ok_button[@]}"
for _ in $(seq 200); do
  xdotool search --onlyvisible --name '^Hot Folder properties$' >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name '^Hot Folder properties$' >/dev/null 2>&1 &&
  fail "the properties dialog refused the entries"
click "$wid" "${start_button[@]}"
job=$(print_one tallowin-300)
# 600 x 400 at 72 dpi on the 300 dpi queue: 2500 x 1667 natural, 2400 x 1600.
[ "$(placed_size "$job" 300)" = "2400 1600" ] || fail "the image is not 2400 x 1600 printer pixels"
click "$wid" "${exit_button[@]}"
wait_app
grep -q '^Name=Made with New$' "$profile" || fail "the new hot folder is not in the saved profile"
grep -q '^PrinterName=tallowin-300$' "$profile" || fail "the new hot folder's printer was not saved"
grep -q '^ScanTime=5$' "$profile" || fail "the new hot folder's scan time was not saved"
grep -qxF 'Exclude=.*;*.tmp;*.part;*.crdownload;~*' "$profile" ||
  fail "the new hot folder does not leave partial and hidden files alone"
echo "ok: a hot folder made with New prints, and Exit saves it"
echo "2 passed, 0 failed"
