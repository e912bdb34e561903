# Starts a private CUPS scheduler for this test alone (scripts/cups-sandbox)
# and points CUPS_SERVER at it, so that the shell tests run side by side:
# none sees another's jobs, and one that freezes its scheduler holds no
# other. Sourced after `set -euo pipefail`; the test's EXIT trap calls
# stop_own_scheduler.
own_scheduler_script=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/cups-sandbox
own_scheduler_log=$(mktemp "${TMPDIR:-/tmp}/tallowin-scheduler.XXXXXX")
if ! CUPS_SERVER=$("$own_scheduler_script" start 2>"$own_scheduler_log"); then
  cat "$own_scheduler_log" >&2
  rm -f "$own_scheduler_log"
  echo "FAIL: no scheduler of its own" >&2
  exit 1
fi
export CUPS_SERVER
rm -f "$own_scheduler_log"

stop_own_scheduler() {
  "$own_scheduler_script" stop "$CUPS_SERVER" >/dev/null 2>&1 || true
}
# Until the test sets a trap of its own.
trap stop_own_scheduler EXIT
