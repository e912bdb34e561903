#!/usr/bin/env bash
# Being told, with tallowin --service under the sandbox: a queue stopped with
# a reason is named by `tallowin status` (text and JSON), the print log and
# the notify command while the dropped photo waits; started again, the
# photo prints exactly once and printer-ready is heard; a file that cannot
# print is heard with its reason; with no instance, status says "not
# running" and exits 3.
#   told_test.sh TALLOWIN
set -euo pipefail
exe=$1
. "$(dirname "$0")/lib.sh"
export XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"
PATH=$PATH:/usr/sbin:/sbin
log=$work/service.log
printlog=$XDG_STATE_HOME/tallowin/print.log
heard=$work/heard.txt
show() { cat "$log" "$printlog" "$heard" >&2 2>/dev/null || true; }
heard() { grep -qsxF -- "$1" "$heard"; }
status_says() { "$exe" status >"$work/status.txt" 2>&1 && grep -qF -- "$1" "$work/status.txt"; }
# json_check PYTHON-EXPRESSION: true when it holds for the answer d
json_check() {
  "$exe" status --json >"$work/status.json" &&
    python3 -c 'import json, sys
d = json.load(open(sys.argv[1]))
sys.exit(0 if eval(" ".join(sys.argv[2].split())) else 1)' "$work/status.json" "$1"
}

# The notify command: each event one line, and a word on its output.
cat >"$work/notify" <<SCRIPT
#!/bin/sh
printf '%s|%s|%s|%s|%s|%s\n' "\$1" "\$2" "\$3" "\$4" "\$5" "\$TALLOWIN_EVENT_COUNT" >>'$heard'
echo "told \$1"
SCRIPT
chmod +x "$work/notify"
mkdir -p "$work/hot"
write_profile "$work/hot" tallowin-600
sed -i "s|^\[Init\]$|[Init]\nNotifyCommand=$work/notify|" "$profile"

# Nobody to ask yet.
status=0
"$exe" status >"$work/status.txt" || status=$?
[ "$status" = 3 ] || fail "status with nothing running exited $status"
grep -qx "not running (profile $profile)" "$work/status.txt" || fail "$(cat "$work/status.txt")"
status=0
"$exe" status --json >"$work/status.json" || status=$?
[ "$status" = 3 ] || fail "status --json with nothing running exited $status"
python3 -c 'import json,sys; assert json.load(open(sys.argv[1]))["running"] is False' \
  "$work/status.json" || fail "$(cat "$work/status.json")"
echo "ok: no instance: not running, exit 3"

"$exe" --service 2>"$log" &
pid=$!
wait_for 30 grep -q '<6>started' "$log" || { show; fail "no start"; }

cupsdisable -r "Out of paper" tallowin-600
photo=told-$$-photo.jpg
make_image "$work/hot/$photo"
trouble="Printer needs attention: Out of paper (paused)"
wait_for 30 status_says "$trouble" || { show; cat "$work/status.txt" >&2; fail "status: no trouble"; }
grep -qE "^Tallowin is running: process $pid, up [0-9:]+, service$" "$work/status.txt" ||
  fail "status: $(cat "$work/status.txt")"
tr -s ' ' <"$work/status.txt" | grep -qxF "folder0 Running tallowin-600 1 0 $trouble" ||
  fail "status row: $(cat "$work/status.txt")"
json_check "d['pid'] == $pid and d['running'] and d['uptime'] >= 0 and
  d['folders'][0]['error'] == '$trouble' and d['folders'][0]['files_waiting'] == 1 and
  d['folders'][0]['jobs_in_flight'] == 0 and d['folders'][0]['state'] == 'Running'" ||
  { cat "$work/status.json" >&2; fail "status --json"; }
echo "ok: status (text and JSON) names the stopped printer and the waiting file"

wait_for 30 heard "printer-attention|folder0||tallowin-600|Out of paper (paused)|1" ||
  { show; fail "the notify command did not hear printer-attention"; }
grep -qP '\tfolder0\t\ttallowin-600\t0\t0x0\tprinter-attention\t17\tOut of paper \(paused\)$' \
  "$printlog" || { show; fail "no printer-attention line in the print log"; }
wait_for 30 grep -qP '\tnotified\t0\tprinter-attention: exit 0: told printer-attention$' \
  "$printlog" || { show; fail "the notify command's run is not in the print log"; }
grep -q '<4>.*printer-attention' "$log" || { show; fail "no warning on the journal"; }
[ -e "$work/hot/$photo" ] || fail "the waiting photo went"
[ "$(count_captured tallowin-600 "$photo")" = 0 ] || fail "printed on a stopped queue"
! grep -qP '\tsent\t' "$printlog" || { show; fail "a file was sent to a stopped queue"; }
echo "ok: the print log and the notify command name the trouble; the photo waits"

cupsenable tallowin-600
wait_for 30 captured tallowin-600 "$photo" || { show; fail "not printed once started"; }
wait_for 30 test ! -e "$work/hot/$photo" || fail "not deleted after printing"
wait_for 30 heard "printer-ready|folder0||tallowin-600|the printer prints again|1" ||
  { show; fail "printer-ready not heard"; }
wait_for 30 status_says "No errors" || { show; fail "status still shows trouble"; }
[ "$(count_captured tallowin-600 "$photo")" = 1 ] || fail "printed more than once"
[ "$(grep -cP '\tprinter-attention\t' "$printlog")" = 1 ] || { show; fail "attention said twice"; }
[ "$(grep -cP '\tprinter-ready\t' "$printlog")" = 1 ] || { show; fail "ready said twice"; }
echo "ok: started again, the photo prints exactly once and printer-ready is heard"

echo "no picture" >"$work/hot/told-$$-bad.jpg"
wait_for 30 grep -qsF "kept|folder0|$work/hot/told-$$-bad.jpg|tallowin-600|" "$heard" ||
  { show; fail "the kept file was not heard"; }
reason=$(grep -F "kept|folder0|$work/hot/told-$$-bad.jpg" "$heard" | cut -d'|' -f5)
[ -n "$reason" ] || fail "the kept file was heard without a reason"
wait_for 30 status_says "Not a picture or unsupported format" || { show; fail "status: kept"; }
echo "ok: a kept file is heard with its reason ($reason)"

kill -TERM "$pid"
wait "$pid" || fail "the service did not end cleanly"
pid=
status=0
"$exe" status >"$work/status.txt" || status=$?
[ "$status" = 3 ] && grep -q "^not running" "$work/status.txt" ||
  fail "after the service ended: exit $status, $(cat "$work/status.txt")"
[ -z "$(ls -A "$XDG_RUNTIME_DIR/tallowin")" ] || fail "the socket was left behind"
echo "ok: ended, status says not running again"
