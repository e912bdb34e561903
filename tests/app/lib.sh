# Shared by the application's shell tests: a scratch HOME and XDG folders,
# waiting on conditions, test images and the sandbox's captured jobs.
# Sourced after `set -euo pipefail`; each test gets a scheduler of its own,
# which its EXIT trap stops with stop_own_scheduler.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

. "$(dirname "${BASH_SOURCE[0]}")/own_scheduler.sh"
sandbox_output=$(dirname "$CUPS_SERVER")/output

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowin-app.XXXXXX")
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
unset DISPLAY WAYLAND_DISPLAY
profile=$XDG_CONFIG_HOME/tallowin/tallowin.ini

. "$(dirname "${BASH_SOURCE[0]}")/wait_for.sh"

# make_image PATH: a small JPEG, written beside PATH and moved in whole.
make_image() {
  local tmp
  tmp=$(dirname "$1")/.$(basename "$1").tmp.jpg
  vips black "$tmp" 120 80 --bands 3 >/dev/null
  mv "$tmp" "$1"
}

# captured QUEUE TITLE: true when the backend has finished a job so named.
captured() {
  local t
  for t in "$sandbox_output/$1"/job-*.title; do
    [ -e "$t" ] || continue
    [ "$(cat "$t")" = "$2" ] && [ -e "${t%.title}.data" ] && return 0
  done
  return 1
}

# count_captured QUEUE TITLE: how many finished jobs are so named.
count_captured() {
  local t n=0
  for t in "$sandbox_output/$1"/job-*.title; do
    [ -e "$t" ] || continue
    [ "$(cat "$t")" = "$2" ] && n=$((n + 1))
  done
  echo "$n"
}

# write_profile FOLDER PRINTER [FOLDER PRINTER]...: hot folders scanned
# every second.
write_profile() {
  local n=0 text=''
  while [ $# -ge 2 ]; do
    text+="[HotFolder$n]"$'\n'"Name=folder$n"$'\n'"FolderPath=$1"$'\n'"PrinterName=$2"$'\n'"ScanTime=1"$'\n'
    n=$((n + 1))
    shift 2
  done
  mkdir -p "$(dirname "$profile")"
  printf '[Init]\nFHNumber=%d\n%s' "$n" "$text" >"$profile"
}
