#!/usr/bin/env bash
# The command line without a display: exit statuses, `print` (files printed
# once, kept, never printed twice on a retry) and --list-printers.
#   cli_test.sh TALLOWIN
set -euo pipefail
exe=$1
. "$(dirname "$0")/lib.sh"
trap 'stop_own_scheduler; rm -rf "$work"' EXIT
out=$work/out err=$work/err
passed=0

# expect STATUS ARGS...: runs the program, stdout and stderr kept.
expect() {
  local want=$1 status=0
  shift
  "$exe" "$@" >"$out" 2>"$err" || status=$?
  [ "$status" = "$want" ] || {
    cat "$out" "$err" >&2
    fail "tallowin $* exited $status, not $want"
  }
}
ok() {
  echo "ok: $*"
  passed=$((passed + 1))
}
# The scheduler's jobs on tallowin-600 so far; print sends its job before it
# returns, so the count is exact right after it.
jobs_600() { lpstat -h "$CUPS_SERVER" -W all -o tallowin-600 | wc -l; }

expect 0 --help
grep -q '^Usage: tallowin' "$out" || fail "--help prints no usage"
expect 0 --version
grep -qE '^tallowin [0-9]+\.[0-9]+' "$out" || fail "--version: $(cat "$out")"
expect 2 --no-such-option
grep -q '^Usage: tallowin' "$err" || fail "a bad option prints no usage on stderr"
expect 2 print "$work/x.jpg"
ok "--help, --version and a bad command line"

good=cli-$$-good.jpg
make_image "$work/$good"
expect 0 print -d tallowin-600 "$work/$good"
wait_for 30 captured tallowin-600 "$good" || fail "$good not printed"
[ -e "$work/$good" ] || fail "print deleted $good"
ok "print sends a good file and keeps it"

before=$(jobs_600)
expect 0 print -d tallowin-600 "$work/$good"
grep -qF "$good: already sent to tallowin-600" "$err" || fail "no note on the skipped file"
[ "$(jobs_600)" = "$before" ] || fail "the retry printed again"
[ "$(count_captured tallowin-600 "$good")" = 1 ] || fail "$good captured more than once"
touch -d '2001-01-01' "$work/$good"  # changed: a new file, printed again
expect 0 print -d tallowin-600 "$work/$good"
[ "$(jobs_600)" = $((before + 1)) ] || fail "a changed file was not printed again"
ok "a retry never prints a file twice; a changed file prints again"

echo 'not an image' >"$work/notes.txt"
other=cli-$$-other.jpg
make_image "$work/$other"
expect 1 print -d tallowin-600 "$work/notes.txt" "$work/$other"
grep -q "notes.txt: not an image" "$err" || fail "no line naming the bad file: $(cat "$err")"
[ "$(grep -c . "$err")" = 1 ] || fail "more than one line for one failure: $(cat "$err")"
wait_for 30 captured tallowin-600 "$other" || fail "the good file after a bad one was not printed"
expect 1 print -d no-such-queue "$work/$other"
grep -q "$other: printer no-such-queue" "$err" || fail "no line naming the printer: $(cat "$err")"
ok "a failure is one line naming the file; the other files still print"

expect 0 --list-printers
grep -qE '^tallowin-600 .*printable 4800x6600 px' "$out" || fail "tallowin-600: $(cat "$out")"
grep -qE '^tallowin-pool .*300x300 dpi.*printable 2400x3150 px' "$out" || fail "pool: $(cat "$out")"
grep -qE '^tallowin-raw .*cannot be printed on' "$out" || fail "raw: $(cat "$out")"
ok "--list-printers lists queues and classes with their pages"
echo "$passed passed, 0 failed"
