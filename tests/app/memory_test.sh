#!/usr/bin/env bash
# The service under a 1 GiB address-space limit: pictures whose decode
# would need gigabytes (a 35-byte GIF, an interlaced PNG and a progressive
# JPEG whose headers claim 30000 x 30000 pixels) are kept as too large, the
# service stays up, and both folders go on printing; a 200-page PDF
# document prints with the service under 150 MiB.
#   memory_test.sh TALLOWIN [PLAIN_TALLOWIN]
# A sanitized build cannot run under `ulimit -v` (its shadow memory alone
# is terabytes of address space): PLAIN_TALLOWIN, a build without
# sanitizers (the release preset's), is used then, and the test is skipped
# (77) when there is none.
set -euo pipefail
exe=$1
if ldd "$exe" | grep -q 'lib[at]san'; then
  exe=${2:-}
  if [ -z "$exe" ] || [ ! -x "$exe" ]; then
    echo "SKIP: no build without sanitizers (cmake --build --preset release --target tallowin)"
    exit 77
  fi
fi
. "$(dirname "$0")/lib.sh"
log=$work/service.log
show_log() { cat "$log" >&2; }
# kept_too_large NAME: the log says NAME was kept as too large (code 5).
kept_too_large() { grep -F -- "$1" "$log" | grep -q $'\tkept\t5\t'; }

mkdir -p "$work/hot1" "$work/hot2"
# The headers' claims, on files of a few bytes: a GIF's screen and frame,
# a small interlaced PNG's and a small progressive JPEG's size fields.
printf 'GIF89a\x30\x75\x30\x75\x80\0\0\0\0\0\xff\xff\xff\x2c\0\0\0\0\x30\x75\x30\x75\0\x02\x02\x4c\x01\0;' \
  >"$work/hot1/claim.gif"
vips black "$work/i.png" 64 64 --bands 3 >/dev/null
vips pngsave "$work/i.png" "$work/il.png" --interlace
vips black "$work/p.v" 64 64 --bands 3 >/dev/null
vips jpegsave "$work/p.v" "$work/p.jpg" --interlace
python3 - "$work/il.png" "$work/hot1/interlaced.png" "$work/p.jpg" "$work/hot1/progressive.jpg" <<'PY'
import struct, sys, zlib
png = bytearray(open(sys.argv[1], 'rb').read())
png[16:24] = struct.pack('>II', 30000, 30000)
png[29:33] = struct.pack('>I', zlib.crc32(bytes(png[12:29])) & 0xffffffff)
open(sys.argv[2], 'wb').write(png)
jpg = bytearray(open(sys.argv[3], 'rb').read())
sof = jpg.find(b'\xff\xc2')
jpg[sof + 5:sof + 9] = struct.pack('>HH', 30000, 30000)
open(sys.argv[4], 'wb').write(jpg)
PY

write_profile "$work/hot1" tallowin-600 "$work/hot2" tallowin-300
(ulimit -v 1048576 && exec "$exe" --service) 2>"$log" &
pid=$!
for name in claim.gif interlaced.png progressive.jpg; do
  wait_for 60 kept_too_large "$name" || { show_log; fail "$name not kept as too large"; }
  [ -e "$work/hot1/$name" ] || fail "$name is gone"
done
kill -0 "$pid" || { show_log; fail "the service died"; }
echo "ok: pictures that would need gigabytes are kept as too large"

for folder in hot1 hot2; do
  name=memory-$$-$folder.jpg
  make_image "$work/$folder/$name"
  queue=tallowin-600
  [ "$folder" = hot2 ] && queue=tallowin-300
  wait_for 60 captured "$queue" "$name" || { show_log; fail "$name not printed"; }
done
kill -0 "$pid" || { show_log; fail "the service died"; }
echo "ok: under a 1 GiB address-space limit both folders go on printing"

# A 200-page document, each page with a photo of its own (about 50 MB),
# prints as one job of 200 pages, is deleted once printed, and the service
# stays under 150 MiB: the pages' streams go to the job as they are read.
vips gaussnoise "$work/noise.v" 800 600 --mean 128 --sigma 40 >/dev/null
vips cast "$work/noise.v" "$work/noise8.v" uchar >/dev/null
vips jpegsave "$work/noise8.v" "$work/photo.jpg" --Q 85 >/dev/null
doc=memory-$$-doc.pdf
make_pdf "$work/hot1/$doc" 200 "$work/photo.jpg"
wait_for 120 captured tallowin-600 "$doc" || { show_log; fail "$doc not printed"; }
pdfinfo "$(captured_data tallowin-600 "$doc")" | grep -q '^Pages: *200$' ||
  fail "$doc did not print as one job of 200 pages"
wait_for 60 test ! -e "$work/hot1/$doc" || { show_log; fail "$doc not deleted once printed"; }
peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
[ "$peak" -lt $((150 * 1024)) ] || fail "the service's peak memory was $peak KiB"
echo "ok: a 200-page document prints as one job; the service's peak memory: $((peak / 1024)) MiB"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || { show_log; fail "exit status $status"; }
echo "ok: the service ends normally"
