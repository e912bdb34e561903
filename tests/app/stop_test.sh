#!/usr/bin/env bash
# Stop means stop, with the real program as a service: a termination signal
# ends a run after the file in progress (the rest stay and print once, at
# the next start), and a scheduler frozen by SIGSTOP never holds the program.
#   stop_test.sh TALLOWIN
set -euo pipefail
exe=$1
. "$(dirname "$0")/lib.sh"
cupsd=$(cat "$(dirname "$CUPS_SERVER")/cupsd.pid")
pid=
cleanup() {
  kill -CONT "$cupsd" 2>/dev/null || true
  clean_up
}
trap cleanup EXIT
log=$work/service.log

# ends_within SECONDS: true when the service has ended by then (status 0).
ends_within() {
  local status=0
  wait_for "$1" eval '! kill -0 "$pid" 2>/dev/null' || return 1
  wait "$pid" || status=$?
  pid=
  [ "$status" = 0 ]
}

mkdir -p "$work/hot"
write_profile "$work/hot" tallowin-600
count=12
for i in $(seq -w 1 $count); do make_image "$work/hot/stop-$$-$i.jpg"; done

# 1. A batch: stopped after its first page, the rest stay for the next run.
rm -f "$log"  # no line of an earlier run may count for this one
"$exe" --service 2>"$log" &
pid=$!
wait_for 60 captured tallowin-600 "stop-$$-01.jpg" || { cat "$log" >&2; fail "nothing printed"; }
kill -TERM "$pid"
ends_within 20 || { cat "$log" >&2; fail "SIGTERM did not end the run after the file in progress"; }
left=$(find "$work/hot" -name 'stop-*.jpg' | wc -l)
[ "$left" -gt 0 ] || fail "the whole batch printed after SIGTERM"
echo "ok: SIGTERM ends a batch after the file in progress ($left of $count stay)"

rm -f "$log"  # no line of an earlier run may count for this one
"$exe" --service 2>"$log" &
pid=$!
wait_for 120 eval '[ -z "$(find "$work/hot" -name "stop-*.jpg")" ]' \
  || { cat "$log" >&2; fail "the files left by the stop were not printed by the next run"; }
kill -TERM "$pid"
ends_within 20 || fail "the second run did not end"
for i in $(seq -w 1 $count); do
  n=$(count_captured tallowin-600 "stop-$$-$i.jpg")
  [ "$n" = 1 ] || fail "stop-$$-$i.jpg printed $n times"
done
echo "ok: every file of the batch printed exactly once across the two runs"

# 2. A frozen scheduler: the program still ends within seconds.
rm -f "$log"  # no line of an earlier run may count for this one
"$exe" --service 2>"$log" &
pid=$!
wait_for 30 grep -q '<6>started' "$log" || { cat "$log" >&2; fail "no start"; }
kill -STOP "$cupsd"
make_image "$work/hot/frozen-$$.jpg"
# The file has settled and its job waits on the frozen scheduler once the
# service holds the file open.
holds_file() { ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "frozen-$$.jpg"; }
wait_for 30 holds_file || { cat "$log" >&2; fail "the file was never taken up"; }
start=$SECONDS
kill -TERM "$pid"
ends_within 10 || { cat "$log" >&2; fail "still running 10 s after SIGTERM with the scheduler frozen"; }
echo "ok: with the scheduler frozen, SIGTERM ends the program in $((SECONDS - start)) s"
kill -CONT "$cupsd"
[ -e "$work/hot/frozen-$$.jpg" ] || fail "the file was deleted though it never printed"
echo "ok: the file that met the frozen scheduler stays"
echo "3 passed, 0 failed"
