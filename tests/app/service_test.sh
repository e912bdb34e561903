#!/usr/bin/env bash
# tallowin --service as a process under the sandbox, with no display: it
# prints what lands in its folders, reads the profile again on SIGHUP,
# refuses a second instance on the same profile, and saves on SIGTERM.
#   service_test.sh TALLOWIN
set -euo pipefail
exe=$1
. "$(dirname "$0")/lib.sh"
pid=
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  stop_own_scheduler
  rm -rf "$work"
}
trap cleanup EXIT
log=$work/service.log
logged() { grep -qF -- "$1" "$log"; }
show_log() { cat "$log" >&2; }

mkdir -p "$work/hot1" "$work/hot2"
write_profile "$work/hot1" tallowin-600
"$exe" --service 2>"$log" &
pid=$!
wait_for 30 logged '<6>started' || { show_log; fail "no start line"; }
logged '<6>read 1 hot folder(s)' || { show_log; fail "no line for the profile"; }
echo "ok: starts without a display"

name1=service-$$-one.jpg
make_image "$work/hot1/$name1"
wait_for 30 captured tallowin-600 "$name1" || { show_log; fail "$name1 not printed"; }
wait_for 10 test ! -e "$work/hot1/$name1" || fail "$name1 not deleted after printing"
echo "ok: a dropped file is printed and deleted"

# A second instance on the same profile: refused, naming the holder.
status=0
"$exe" --service 2>"$work/second.log" || status=$?
[ "$status" = 1 ] || fail "second instance exit status $status"
grep -q "^<3>.*process $pid" "$work/second.log" || fail "holder not named: $(cat "$work/second.log")"
echo "ok: a second service on the profile is refused with the holder's pid"
export QT_QPA_PLATFORM=offscreen
"$exe" 2>"$work/window.log" &
window=$!
wait_for 30 grep -q "process $pid" "$work/window.log" || fail "window: holder not named"
kill -TERM "$window"  # answers the message box
status=0
wait "$window" || status=$?
[ "$status" = 1 ] || fail "refused window exit status $status"
unset QT_QPA_PLATFORM
echo "ok: a second window on the profile is refused with the holder's pid"

# SIGHUP: an unreadable profile keeps the running folders...
mv "$profile" "$work/saved.ini"
mkfifo "$profile"
kill -HUP "$pid"
wait_for 30 logged '<4>the hot folders could not be read again' || { show_log; fail "no warning"; }
rm "$profile"
# ...and a changed one is picked up; its third folder is the first's again.
write_profile "$work/hot1" tallowin-600 "$work/hot2" tallowin-300 "$work/hot1/" tallowin-300
kill -HUP "$pid"
wait_for 30 logged '<6>read 3 hot folder(s)' || { show_log; fail "SIGHUP did not reload"; }
name2=service-$$-two.jpg
make_image "$work/hot2/$name2"
wait_for 30 captured tallowin-300 "$name2" || { show_log; fail "$name2 not printed after SIGHUP"; }
echo "ok: SIGHUP reads the profile again, and keeps the folders when it cannot"

same=$'\tkept\t11\thot folder "folder0" watches this folder'
wait_for 30 logged "$same" || { show_log; fail "no line for the folder watched twice"; }

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || { show_log; fail "exit status $status after SIGTERM"; }
logged '<6>saved 3 hot folder(s)' || { show_log; fail "no save line"; }
grep -q '^Version=1' "$profile" || fail "profile not saved: $(cat "$profile")"
grep -qF "FolderPath=$work/hot2" "$profile" || fail "second folder not saved"
echo "ok: SIGTERM stops, saves and exits 0"
# Checked at every scan until then, said once.
[ "$(grep -cF -- "$same" "$log")" = 1 ] || { show_log; fail "the folder watched twice said more than once"; }
echo "ok: a second hot folder on the same folder is refused once, naming the first"

# A save that fails: the reason on stderr, a non-zero status. The last
# run's log goes first, or its start line would be taken for this one's.
rm -f "$log"
"$exe" --service 2>"$log" &
pid=$!
wait_for 30 logged '<6>started' || { show_log; fail "no start line"; }
mv "$XDG_CONFIG_HOME/tallowin" "$work/moved"
: >"$XDG_CONFIG_HOME/tallowin"  # a file where the profile's folder was
kill -INT "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" != 0 ] || { show_log; fail "exit status 0 although the save failed"; }
logged '<3>the hot folders could not be saved' || { show_log; fail "no error line"; }
echo "ok: a failed save is reported and ends non-zero"
echo "8 passed, 0 failed"
