#!/usr/bin/env bash
# The window's tray icon in a real X server (Xvfb) with a system tray
# (tray_host): the icon docks; while the hot folder's queue is stopped with
# a reason a desktop notification pops up and `tallowin status` asks the
# window; started again, the photo prints once. (Without a tray,
# e2e_xvfb.sh runs the same window, and the Qt test shows that no icon is
# made.)
#   tray_xvfb.sh TALLOWIN TRAY_HOST
set -euo pipefail
exe=$1 tray_host=$2
. "$(dirname "$0")/lib.sh"
xvfb_pid= host_pid= app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  clean_up
}
trap cleanup EXIT
PATH=$PATH:/usr/sbin:/sbin
export XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"
show() { tail -n 20 "$work/app.log" "$work/host.log" >&2 2>/dev/null || true; }

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display") QT_QPA_PLATFORM=xcb
"$tray_host" >"$work/host.log" 2>&1 &
host_pid=$!
wait_for 10 grep -qx ready "$work/host.log" || { show; fail "no tray"; }

mkdir -p "$work/hot"
write_profile "$work/hot" tallowin-600
cupsdisable -r "Out of paper" tallowin-600
"$exe" >"$work/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tallowin$' | head -n 1) ||
  { show; fail "the main window did not appear"; }
wait_for 30 grep -q '^dock ' "$work/host.log" || { show; fail "the icon did not dock"; }
icon=$(awk '/^dock /{print $2; exit}' "$work/host.log")
echo "ok: the icon docks in the tray"

windows() { xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l; }
before=$(windows)
xdotool mousemove --sync --window "$wid" 847 44 click 1  # Start
photo=tray-$$-photo.jpg
make_image "$work/hot/$photo"
more_windows() { [ "$(windows)" -gt "$before" ]; }
wait_for 30 more_windows || { show; fail "no notification popped up"; }
"$exe" status >"$work/status.txt" || { show; fail "status: $(cat "$work/status.txt")"; }
grep -q "^Tallowin is running: process $app_pid, up [0-9:]*, window$" "$work/status.txt" &&
  grep -qF "Printer needs attention: Out of paper (paused)" "$work/status.txt" ||
  fail "status of the window: $(cat "$work/status.txt")"
echo "ok: a notification pops up; status asks the window"


cupsenable tallowin-600
wait_for 30 captured tallowin-600 "$photo" || { show; fail "not printed once started"; }
wait_for 30 test ! -e "$work/hot/$photo" || fail "not deleted"
[ "$(count_captured tallowin-600 "$photo")" = 1 ] || fail "printed more than once"
kill -TERM "$app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=
[ "$status" = 0 ] || { show; fail "the window exited $status"; }
echo "ok: started again, the photo prints once"
