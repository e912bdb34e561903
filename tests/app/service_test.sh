#!/usr/bin/env bash
# tallowin --service as a process under the sandbox, with no display: it
# prints what lands in its folders, reads the profile again on SIGHUP,
# and when its hot folders are edited by hand, refuses a second instance on
# the same profile, saves on SIGTERM without writing over a hand edit, and
# says once when its job ledger was found damaged.
#   service_test.sh TALLOWIN
set -euo pipefail
exe=$1
. "$(dirname "$0")/lib.sh"
log=$work/service.log
logged() { grep -qsF -- "$1" "$log"; }
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

# An edit by hand while it runs, with no signal: a folder added and a
# printer changed, written in place. It is read, and the new folder prints.
mkdir -p "$work/hot3"
write_profile "$work/hot1" tallowin-300 "$work/hot2" tallowin-300 "$work/hot3" tallowin-600
wait_for 30 logged "<6>hot folder \"folder2\": $work/hot3 on tallowin-600" ||
  { show_log; fail "the edit was not read"; }
logged "<6>hot folder \"folder0\": $work/hot1 on tallowin-300" || { show_log; fail "printer"; }
name3=service-$$-three.jpg
make_image "$work/hot3/$name3"
wait_for 30 captured tallowin-600 "$name3" || { show_log; fail "$name3 not printed after the edit"; }
echo "ok: an edit of the profile while it runs is read, and its new folder prints"

# printer_of FOLDER: the PrinterName under that FolderPath in the profile.
printer_of() { grep -A1 -xF "FolderPath=$1" "$profile" | sed -n 's/^PrinterName=//p'; }

# An edit saved the way editors save (a new file renamed over the old one)
# just before SIGTERM, most likely before it is read: it is kept either way.
(
  profile=$work/edited.ini
  write_profile "$work/hot1" tallowin-300 "$work/hot2" tallowin-600 "$work/hot3" tallowin-600
)
mv "$work/edited.ini" "$profile"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || { show_log; fail "exit status $status after SIGTERM"; }
logged '<6>saved 3 hot folder(s)' || logged 'was edited since it was read' ||
  { show_log; fail "neither saved nor kept"; }
[ "$(printer_of "$work/hot2")" = tallowin-600 ] || fail "the changed printer was reverted: $(cat "$profile")"
[ "$(printer_of "$work/hot3")" = tallowin-600 ] || fail "the added folder was lost: $(cat "$profile")"
[ "$(printer_of "$work/hot1")" = tallowin-300 ] || fail "the first edit was lost: $(cat "$profile")"
echo "ok: SIGTERM stops and exits 0, and the edits on disk survive it"
# Checked at every scan until the edit made it a folder of its own, said once.
[ "$(grep -cF -- "$same" "$log")" = 1 ] || { show_log; fail "the folder watched twice said more than once"; }
echo "ok: a second hot folder on the same folder is refused once, naming the first"

# A saved profile: the last run read it whole, so it is written.
rm -f "$log"
"$exe" --service 2>"$log" &
pid=$!
wait_for 30 logged '<6>started' || { show_log; fail "no start line"; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || { show_log; fail "exit status $status after SIGTERM"; }
logged '<6>saved 3 hot folder(s)' || { show_log; fail "no save line"; }
grep -q '^Version=1' "$profile" || fail "profile not saved: $(cat "$profile")"
[ "$(printer_of "$work/hot2")" = tallowin-600 ] || fail "saved over the edit: $(cat "$profile")"
echo "ok: SIGTERM saves a profile read whole"

# A damaged job ledger is said once on stderr and once in the print log,
# naming the file: a warning when its copy gives the last good state back,
# an error when no copy can. Either way the service goes on printing.
ledger=$XDG_STATE_HOME/tallowin/jobs.tsv
printlog=$XDG_STATE_HOME/tallowin/print.log
[ -s "$ledger.copy" ] || fail "the job ledger has no second copy"
run_damaged() {  # run_damaged PRIORITY OUTCOME NAME: one start, one print, SIGTERM
  rm -f "$log"
  "$exe" --service 2>"$log" &
  pid=$!
  wait_for 30 logged '<6>started' || { show_log; fail "no start line"; }
  [ "$(grep -c 'job ledger' "$log")" = 1 ] || { show_log; fail "the ledger is not said once"; }
  logged "$1the job ledger $ledger could not be read" || { show_log; fail "no $1 line"; }
  [ "$(grep -c "	$2	" "$printlog")" = 1 ] || fail "no single $2 line in the print log"
  make_image "$work/hot3/$3"
  wait_for 30 captured tallowin-600 "$3" || { show_log; fail "$3 not printed"; }
  kill -TERM "$pid"
  wait "$pid" || { show_log; fail "exit status $? after SIGTERM"; }
  pid=
}
: >"$ledger"
run_damaged '<4>' ledger-recovered "service-$$-recovered.jpg"
logged "(it is empty) and was kept as $ledger.bad; its copy $ledger.copy was read instead" ||
  { show_log; fail "the recovery is not told"; }
echo "ok: an emptied job ledger is read back from its copy, and said so once"
printf 'garbage' >"$ledger"
printf 'garbage' >"$ledger.copy"
run_damaged '<3>' ledger-lost "service-$$-lost.jpg"
logged "kept as $ledger.bad.2" || { show_log; fail "the earlier damaged file was not kept"; }
logged 'no longer known' || { show_log; fail "the loss is not told"; }
echo "ok: a job ledger with no good copy is said lost once, and printing goes on"

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
echo "10 passed, 0 failed"
