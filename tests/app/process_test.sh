#!/usr/bin/env bash
# The whole application as a process, on the offscreen platform with a
# temporary HOME: it starts with the hot folders of the profile, and after
# SIGTERM the profile holds them again (saved the normal way, not lost).
# With sockets unavailable (injected) it shows message 103, and the profile
# is left exactly as it was; a profile that cannot be read is never saved
# over, a UTF-16 profile is kept in UTF-16, and one with NUL bytes is left
# as it was. When a signal ends it and the profile cannot be saved, it says
# so on stderr and ends non-zero. A damaged job ledger is told at start.
#   process_test.sh TALLOWIN FAIL_SOCKET_LIBRARY
set -euo pipefail
exe=$1 fail_socket=$2
. "$(dirname "$0")/own_scheduler.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowin-process.XXXXXX")
trap 'stop_own_scheduler; rm -rf "$work"' EXIT
export HOME=$work/home QT_QPA_PLATFORM=offscreen
unset XDG_CONFIG_HOME
profile=$HOME/.config/tallowin/tallowin.ini
mkdir -p "$(dirname "$profile")" "$work/hot"
fail() { echo "FAIL: $*" >&2; exit 1; }

. "$(dirname "$0")/wait_for.sh"

# What the application is doing, seen from outside on the offscreen
# platform, where it has no window to look for: Qt's event loop sleeps in
# poll(2) (system call 7 on x86-64), whose third argument is the time to the
# next timer in milliseconds. The loop runs only once a window is open, so
# by then the profile has been read and SIGTERM is handled.
# poll_timeout PID: prints that timeout; fails unless PID sleeps in poll.
poll_timeout() {
  local call
  read -r -a call < "/proc/$1/syscall" 2>/dev/null || return 1
  [ "${call[0]:-}" = 7 ] || return 1
  echo $((call[3]))
}
# A window is open: the main window or a message box before it.
window_open() { poll_timeout "$1" > /dev/null; }
# The main window is open: its table refresh wakes the loop every 500 ms.
main_window_open() {
  local timeout
  timeout=$(poll_timeout "$1") && [ "$timeout" -ge 0 ] && [ "$timeout" -le 500 ]
}
# A message box alone: nothing wakes the loop that often.
message_box_open() {
  local timeout
  timeout=$(poll_timeout "$1") && { [ "$timeout" -lt 0 ] || [ "$timeout" -gt 500 ]; }
}

write_profile() {
  # Written the classic way: CRLF, no Version key, odd spacing.
  printf '[Init]\r\nFHNumber = 2\r\n[HotFolder0]\r\nName=Photos\r\nFolderPath=%s\r\nPrinterName=tallowin-600\r\nScanTime=5\r\n[HotFolder1]\r\nName=Scans\r\nFolderPath=C:\\Scans\\In\r\nPrinterName=tallowin-300\r\nScanTime=12\r\n' "$work/hot" > "$profile"
}

# Runs the application until its window is open, then SIGTERM.
run_and_terminate() {
  "$exe" > "$work/out.log" 2>&1 &
  local pid=$!
  wait_for 30 window_open "$pid" || { cat "$work/out.log" >&2; fail "the application ended by itself or never opened a window"; }
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  echo "$status"
}

# 1. Start, SIGTERM, saved.
write_profile
status=$(run_and_terminate)
[ "$status" = 0 ] || { cat "$work/out.log" >&2; fail "exit status $status after SIGTERM"; }
# Added in the file's own CRLF line ends.
grep -q $'^Version=1\r$' "$profile" || fail "profile not saved at exit: $(cat -A "$profile")"
grep -qi '^fhnumber *= *2' "$profile" || fail "folder count lost: $(cat "$profile")"
grep -q 'C:\\Scans\\In' "$profile" || fail "path with backslashes changed"
grep -q '^Name=Scans' "$profile" || fail "second hot folder lost"
echo "ok: SIGTERM saves the hot folders"

# 2. Sockets unavailable: message 103 (answered by SIGTERM), nothing saved.
write_profile
before=$(sha256sum "$profile")
export LD_PRELOAD=$fail_socket ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
status=$(run_and_terminate)
unset LD_PRELOAD
[ "$status" = 0 ] || { cat "$work/out.log" >&2; fail "exit status $status with sockets unavailable"; }
[ "$(sha256sum "$profile")" = "$before" ] || fail "profile changed after the socket check failed"
echo "ok: a failed socket check leaves the profile as it was"

# 3. A profile that cannot be read: the user is told (a message box, closed
#    by the first SIGTERM), the window opens without hot folders (closed by
#    the second), and nothing is saved over the profile.
rm -f "$profile"
mkfifo "$profile"  # not a file that can be read; a save would replace it
"$exe" > "$work/out.log" 2>&1 &
pid=$!
wait_for 30 message_box_open "$pid" || { cat "$work/out.log" >&2; fail "no message about the profile"; }
kill -TERM "$pid"
wait_for 30 main_window_open "$pid" || { cat "$work/out.log" >&2; fail "ended at the message about the profile"; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" = 0 ] || { cat "$work/out.log" >&2; fail "exit status $status with an unreadable profile"; }
[ -p "$profile" ] || fail "the unreadable profile was replaced"
echo "ok: an unreadable profile is never saved over"

# Starts, answers the message box shown at start with the first SIGTERM and
# closes the window with the second; the status is echoed.
run_past_message_and_terminate() {
  "$exe" > "$work/out.log" 2>&1 &
  local pid=$!
  wait_for 30 message_box_open "$pid" || { cat "$work/out.log" >&2; fail "no message at start"; }
  kill -TERM "$pid"
  wait_for 30 main_window_open "$pid" || { cat "$work/out.log" >&2; fail "ended at the message at start"; }
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  echo "$status"
}

# 4. A profile a Windows editor saved as UTF-16 with a BOM: read, and written
#    back in UTF-16 with its BOM, the same content and the missing Version
#    key added in its line ends: a save that happened, to an equal file.
utf16_profile() {  # utf16_profile VERSION_LINE
  { printf '\xff\xfe'
    printf '[Init]\r\nFHNumber=1\r\n%s[HotFolder0]\r\nFolderPath=%s\r\nPrinterName=tallowin-600\r\nName=Caf\xc3\xa9\r\nScanTime=5\r\n' "$1" "$work/hot" \
      | iconv -f UTF-8 -t UTF-16LE; }
}
rm -f "$profile"
utf16_profile '' > "$profile"
utf16_profile $'Version=1\r\n' > "$work/expected.ini"
status=$(run_and_terminate)
[ "$status" = 0 ] || { cat "$work/out.log" >&2; fail "exit status $status with a UTF-16 profile"; }
cmp -s "$profile" "$work/expected.ini" \
  || fail "the UTF-16 profile changed: $(iconv -f UTF-16 -t UTF-8 "$profile" 2>&1 || od -c "$profile")"
echo "ok: a UTF-16 profile survives a start and SIGTERM"

# 5. A profile with NUL bytes is not a text: the user is told, and the file
#    is left exactly as it was.
printf '[Init]\nFHNumber=1\n\0\0\0[HotFolder0]\nName=a\n' > "$profile"
before=$(sha256sum "$profile")
status=$(run_past_message_and_terminate)
[ "$status" = 0 ] || { cat "$work/out.log" >&2; fail "exit status $status with NUL bytes"; }
[ "$(sha256sum "$profile")" = "$before" ] || fail "the profile with NUL bytes was changed"
echo "ok: a profile with NUL bytes is left as it was"

# 6. Ended by a signal and the profile cannot be saved: the reason on
#    stderr and a non-zero status, no message box that nobody would answer
#    (the process ends at the first SIGTERM).
rm -f "$profile"
write_profile
"$exe" > "$work/out.log" 2> "$work/err.log" &
pid=$!
# The profile must have been read before its folder goes.
wait_for 30 main_window_open "$pid" || { cat "$work/out.log" >&2; fail "the main window never opened"; }
mv "$(dirname "$profile")" "$work/moved"
: > "$(dirname "$profile")"  # a file where the profile's folder was
kill -TERM "$pid"
status=0
timeout 30 tail --pid="$pid" -f /dev/null || { kill -KILL "$pid"; fail "still running after SIGTERM (a message box?)"; }
wait "$pid" || status=$?
[ "$status" != 0 ] || fail "exit status 0 although the save failed"
grep -q "could not be saved" "$work/err.log" || fail "no reason on stderr: $(cat "$work/err.log")"
rm -f "$(dirname "$profile")"
mv "$work/moved" "$(dirname "$profile")"
echo "ok: a save that fails after a signal goes to stderr and ends non-zero"

# 7. A job ledger that cannot be read, and no copy of it: the user is told
#    in a message box at start, and the print log (which the Log shows)
#    says so once.
export XDG_STATE_HOME=$work/state
mkdir -p "$XDG_STATE_HOME/tallowin"
printf 'garbage' > "$XDG_STATE_HOME/tallowin/jobs.tsv"
status=$(run_past_message_and_terminate)
[ "$status" = 0 ] || { cat "$work/out.log" >&2; fail "exit status $status with a damaged job ledger"; }
[ "$(grep -c $'\tledger-lost\t' "$XDG_STATE_HOME/tallowin/print.log")" = 1 ] \
  || fail "the damaged job ledger is not in the print log once"
[ "$(cat "$XDG_STATE_HOME/tallowin/jobs.tsv.bad")" = garbage ] || fail "the damaged ledger was not kept"
echo "ok: a damaged job ledger is told in a message box and the print log"
echo "7 passed, 0 failed"
