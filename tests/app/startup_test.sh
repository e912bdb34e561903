#!/usr/bin/env bash
# What every command does at start, the same way: the state folder is made
# private to the user whichever command makes it first, and the service says
# on its log what the window shows in dialogs (here: skipped sections of the
# profile, a print log that cannot be written).
#   startup_test.sh TALLOWIN
set -euo pipefail
exe=$(realpath "$1")
. "$(dirname "$0")/lib.sh"
umask 022  # what would leave a folder made carelessly readable by all
log=$work/service.log
logged() { grep -qsF -- "$1" "$log"; }
show_log() { cat "$log" >&2; }
mode_of() { stat -c %a "$1"; }

# `tallowin print` first: a good file printed, so its record is written.
export XDG_STATE_HOME=$work/state-print
make_image "$work/first.jpg"
"$exe" print -d tallowin-600 "$work/first.jpg" 2>"$work/print.err" ||
  { cat "$work/print.err" >&2; fail "print failed"; }
[ -s "$XDG_STATE_HOME/tallowin/printed" ] || fail "print wrote no record"
[ "$(mode_of "$XDG_STATE_HOME/tallowin")" = 700 ] ||
  fail "print made the state folder $(mode_of "$XDG_STATE_HOME/tallowin"), not 700"
[ "$(mode_of "$XDG_STATE_HOME")" = 700 ] || fail "print made $XDG_STATE_HOME readable by others"
echo "ok: print makes the state folder private"

# The service first, with a profile of one good and one skipped section.
export XDG_STATE_HOME=$work/state-service
mkdir -p "$work/hot"
write_profile "$work/hot" tallowin-600
printf '[HotFolder1]\nFolderPath=%s\nPrinterName=tallowin-600\n' "$work/hot" >>"$profile"
sed -i 's/^FHNumber=1$/FHNumber=2/' "$profile"
"$exe" --service 2>"$log" &
pid=$!
wait_for 30 logged '<6>started' || { show_log; fail "no start line"; }
[ "$(mode_of "$XDG_STATE_HOME/tallowin")" = 700 ] ||
  fail "the service made the state folder $(mode_of "$XDG_STATE_HOME/tallowin"), not 700"
echo "ok: the service makes the state folder private"
logged '<4>these hot folders in '"$profile"' could not be loaded and were skipped' ||
  { show_log; fail "the skipped section is not said"; }
logged '[HotFolder1]:' || { show_log; fail "the skipped section is not named"; }
logged '<6>read 1 hot folder(s)' || { show_log; fail "the good section was not read"; }
kill -TERM "$pid"
wait "$pid" || { show_log; fail "exit status $? after SIGTERM"; }
pid=
echo "ok: the service says which sections of the profile it skipped"

# A print log that cannot be written: said at start, printing goes on.
rm -f "$log" "$XDG_STATE_HOME/tallowin/print.log"
mkdir "$XDG_STATE_HOME/tallowin/print.log"  # a folder where the file should be
"$exe" --service 2>"$log" &
pid=$!
wait_for 30 logged '<6>started' || { show_log; fail "no start line"; }
logged "<3>" || { show_log; fail "the print log's trouble is not said as an error"; }
grep -F '<3>' "$log" | grep -qF "print.log" || { show_log; fail "the print log is not named"; }
kill -TERM "$pid"
wait "$pid" || { show_log; fail "exit status $? after SIGTERM"; }
pid=
echo "ok: the service says when its print log cannot be written"
echo "3 passed, 0 failed"
