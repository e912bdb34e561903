# Shared by the application's shell tests: a scratch HOME and XDG folders,
# waiting on conditions, test images and the sandbox's captured jobs.
# Sourced after `set -euo pipefail`; each test gets a scheduler of its own,
# which the EXIT trap (clean_up) stops.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

. "$(dirname "${BASH_SOURCE[0]}")/own_scheduler.sh"
. "$(dirname "${BASH_SOURCE[0]}")/placed_size.sh"
sandbox_output=$(dirname "$CUPS_SERVER")/output

# Each test's EXIT trap: the service it runs as $pid (if any) killed, its
# scheduler stopped, its scratch folder removed. A test with more to end
# traps EXIT itself and calls clean_up last.
pid= work=
clean_up() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  stop_own_scheduler
  if [ -n "$work" ]; then
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
  fi
}
trap clean_up EXIT

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

# make_pdf PATH PAGES [JPEG]: a PDF document of PAGES Letter pages, each
# filled black, or with JPEG (a greyscale one) drawn on it, each page its own
# copy; written beside PATH and moved in whole.
make_pdf() {
  local tmp
  tmp=$(dirname "$1")/.$(basename "$1").tmp.pdf
  python3 - "$tmp" "$2" "${3:-}" <<'PY'
import re, sys
path, pages, jpeg = sys.argv[1], int(sys.argv[2]), sys.argv[3]
photo = open(jpeg, 'rb').read() if jpeg else b''
objs = [b'<< /Type /Catalog /Pages 2 0 R >>', b'']
kids = []
def add(body):
    objs.append(body)
    return len(objs)
for i in range(pages):
    resources = b''
    draw = b'0 g 0 0 612 792 re f'
    if photo:
        sof = re.search(b'\xff[\xc0-\xc2]..\x08(..)(..)', photo, re.S)
        h, w = int.from_bytes(sof.group(1), 'big'), int.from_bytes(sof.group(2), 'big')
        image = add(b'<< /Type /XObject /Subtype /Image /Width %d /Height %d '
                    b'/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode '
                    b'/Length %d >>\nstream\n%s\nendstream' % (w, h, len(photo), photo))
        resources = b'/Resources << /XObject << /Im %d 0 R >> >>' % image
        draw = b'q 576 0 0 432 18 300 cm /Im Do Q'
    contents = add(b'<< /Length %d >>\nstream\n%s\nendstream' % (len(draw), draw))
    kids.append(add(b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] %s /Contents %d 0 R >>'
                    % (resources, contents)))
objs[1] = b'<< /Type /Pages /Count %d /Kids [%s] >>' % (
    pages, b' '.join(b'%d 0 R' % k for k in kids))
data, offsets = bytearray(b'%PDF-1.4\n'), []
for n, body in enumerate(objs, 1):
    offsets.append(len(data))
    data += b'%d 0 obj\n%s\nendobj\n' % (n, body)
xref = len(data)
data += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1)
data += b''.join(b'%010d 00000 n \n' % o for o in offsets)
data += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, xref)
open(path, 'wb').write(data)
PY
  mv "$tmp" "$1"
}

# captured_data QUEUE TITLE: the document of the finished job so named.
captured_data() {
  local t
  for t in "$sandbox_output/$1"/job-*.title; do
    [ -e "$t" ] || continue
    [ "$(cat "$t")" = "$2" ] && [ -e "${t%.title}.data" ] && echo "${t%.title}.data" && return 0
  done
  return 1
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
