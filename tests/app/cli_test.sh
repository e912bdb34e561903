#!/usr/bin/env bash
# The command line without a display: exit statuses, `print` (files printed
# once, kept, never printed twice on a retry, sent again when their job
# failed; a PDF document as one job of all its pages; the exit status
# follows the jobs' outcomes) and --list-printers.
#   cli_test.sh TALLOWIN
set -euo pipefail
exe=$(realpath "$1")  # the test changes folder
. "$(dirname "$0")/lib.sh"
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
# jobs_on QUEUE: the scheduler's jobs on QUEUE so far; print sends its jobs
# before it returns, so the count is exact right after it.
jobs_on() { lpstat -h "$CUPS_SERVER" -W all -o "$1" | wc -l; }
jobs_600() { jobs_on tallowin-600; }

expect 0 --help
grep -q '^Usage: tallowin' "$out" || fail "--help prints no usage"
expect 0 --version
grep -qE '^tallowin [0-9]+\.[0-9]+' "$out" || fail "--version: $(cat "$out")"
expect 2 --no-such-option
grep -q '^Usage: tallowin' "$err" || fail "a bad option prints no usage on stderr"
expect 2 print "$work/x.jpg"
expect 2 print -d tallowin-600 -d tallowin-300 "$work/x.jpg"
grep -q 'print: -d given twice' "$err" || fail "a second -d: $(cat "$err")"
grep -q '^Usage: tallowin' "$err" || fail "a second -d prints no usage on stderr"
ok "--help, --version and a bad command line"

good=cli-$$-good.jpg
make_image "$work/$good"
expect 0 print -d tallowin-600 "$work/$good"
captured tallowin-600 "$good" || fail "$good not printed when print ended"
[ -e "$work/$good" ] || fail "print deleted $good"
ok "print waits until a good file has printed, and keeps it"

before=$(jobs_600)
expect 0 print -d tallowin-600 "$work/$good"
grep -qF "$good: already printed on tallowin-600" "$err" || fail "no note on the skipped file"
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

opts=cli-$$-opts.jpg
make_image "$work/$opts"
expect 0 print -d tallowin-trays -n 2 -o media=Letter -o sides=two-sided-short-edge \
  -o media-source=bottom -o print-scaling=fit -o position=center -o page-border=single "$work/$opts"
data=$(captured_data tallowin-trays "$opts") || fail "$opts not printed when print ended"
[ "$(cat "${data%.data}.copies")" = 2 ] || fail "not 2 copies: $(cat "${data%.data}.copies")"
for o in media=Letter sides=two-sided-short-edge media-source=bottom page-border=single \
  print-scaling=none; do
  tr ' ' '\n' <"${data%.data}.options" | grep -qx -- "$o" ||
    fail "$o not among the job's options: $(cat "${data%.data}.options")"
done
pdfinfo "$data" | grep -q '^Page size: *612 x 792 pts' || fail "$opts not on Letter"
[ "$(placed_size "$data" 600 | cut -d' ' -f1)" = 4800 ] || fail "$opts not fitted to the page's width"
expect 2 print -d tallowin-trays -o print-scaling=stretch "$work/$opts"
grep -q 'Scaling=stretch' "$err" || fail "a wrong -o value: $(cat "$err")"
touch -d '2001-01-01' "$work/$opts"  # changed: not skipped as printed
expect 1 print -d tallowin-trays -o media-source=manual "$work/$opts"
grep -q "$opts: print settings: media-source manual" "$err" || fail "a tray not offered: $(cat "$err")"
expect 1 print -d tallowin-600 -o sides=two-sided-long-edge "$work/$opts"
grep -q "$opts: print settings: sides two-sided-long-edge" "$err" || fail "two-sided on a simplex queue: $(cat "$err")"
ok "print takes lp's -n and -o: copies, media, sides, tray and other options reach the printer"

doc=cli-$$-doc.pdf
make_pdf "$work/$doc" 2
expect 0 print -d tallowin-600 "$work/$doc"
captured tallowin-600 "$doc" || fail "$doc not printed when print ended"
pdfinfo "$(captured_data tallowin-600 "$doc")" | grep -q '^Pages: *2$' ||
  fail "$doc did not print as one job of two pages"
qpdf --encrypt secret owner 256 -- "$work/$doc" "$work/locked.pdf"
expect 1 print -d tallowin-600 "$work/locked.pdf"
grep -q "locked.pdf: protected document" "$err" || fail "no line naming the protected file: $(cat "$err")"
ok "print prints a PDF document as one job of all its pages, and keeps a protected one"

# A job the printer aborts: exit 1 with the scheduler's words, and a retry
# sends the file again, also after --no-wait left its outcome unseen.
bad=cli-$$-bad.jpg
make_image "$work/$bad"
expect 1 print -d tallowin-fail "$work/$bad"
grep -qE "$bad: job [0-9]+ on tallowin-fail did not print: .*aborted" "$err" \
  || fail "no line with the scheduler's words: $(cat "$err")"
[ "$(jobs_on tallowin-fail)" = 1 ] || fail "not one job on tallowin-fail"
expect 1 print -d tallowin-fail "$work/$bad"
[ "$(jobs_on tallowin-fail)" = 2 ] || fail "the retry of a failed job did not send it again"
expect 0 print --no-wait -d tallowin-fail "$work/$bad"
[ "$(jobs_on tallowin-fail)" = 3 ] || fail "--no-wait sent no job"
wait_for 30 eval '[ "$(lpstat -W completed -o tallowin-fail | wc -l)" = 3 ]' \
  || fail "the job sent with --no-wait did not end"
expect 1 print -d tallowin-fail "$work/$bad"
grep -qE "$bad: its earlier job [0-9]+ on tallowin-fail did not print" "$err" \
  || fail "no note on the earlier failed job: $(cat "$err")"
[ "$(jobs_on tallowin-fail)" = 4 ] || fail "a file whose unseen job failed was not sent again"
ok "a job the printer aborts fails the command, and its file is sent again on a retry"

# --no-wait ends once the job is taken; a later run asks about that job
# rather than sending the file again.
quick=cli-$$-quick.jpg
make_image "$work/$quick"
before=$(jobs_600)
expect 0 print --no-wait -d tallowin-600 "$work/$quick"
[ "$(jobs_600)" = $((before + 1)) ] || fail "--no-wait sent no job"
expect 0 print -d tallowin-600 "$work/$quick"
[ "$(jobs_600)" = $((before + 1)) ] || fail "a file sent with --no-wait was sent again"
captured tallowin-600 "$quick" || fail "$quick not printed when the retry ended"
ok "--no-wait ends once the job is taken; the retry waits for that job, sends nothing"

# "--" ends the options: a file may be called --help.
make_image "$work/--help"
(cd "$work" && expect 0 print -d tallowin-600 -- --help)
captured tallowin-600 --help || fail "the file named --help was not printed"
ok "-- ends the options"

# Ctrl+C while print waits: it names the pending job, exits 3, and the
# retry waits for that job instead of sending the file again.
held=cli-$$-held.jpg
make_image "$work/$held"
cupsdisable tallowin-300
"$exe" print -d tallowin-300 "$work/$held" 2>"$err" &
pid=$!
# Once the scheduler has the whole document, print is waiting (before,
# the interrupt cancels the job it is sending).
sent_whole() {
  [ "$(jobs_on tallowin-300)" = 1 ] && ! lpstat -l -o tallowin-300 | grep -q job-incoming
}
wait_for 30 sent_whole || fail "no whole job on the stopped queue"
kill -INT "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 3 ] || { cat "$err" >&2; fail "an interrupted print exited $status, not 3"; }
grep -qE "$held: job [0-9]+ on tallowin-300 not finished when interrupted" "$err" \
  || fail "the pending job was not named: $(cat "$err")"
cupsenable tallowin-300
expect 0 print -d tallowin-300 "$work/$held"
[ "$(jobs_on tallowin-300)" = 1 ] || fail "the retry sent the interrupted file again"
captured tallowin-300 "$held" || fail "$held not printed when the retry ended"
ok "Ctrl+C names the pending job and exits 3; the retry waits for it"

expect 0 --list-printers
grep -qE '^tallowin-600 .*printable 4800x6600 px' "$out" || fail "tallowin-600: $(cat "$out")"
grep -qE '^tallowin-pool .*300x300 dpi.*printable 2400x3150 px' "$out" || fail "pool: $(cat "$out")"
grep -qE '^tallowin-raw .*cannot be printed on' "$out" || fail "raw: $(cat "$out")"
ok "--list-printers lists queues and classes with their pages"
echo "$passed passed, 0 failed"
