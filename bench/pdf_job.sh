#!/usr/bin/env bash
# A PDF document's whole print job (load and check with qpdf, every page
# placed on the sheet, the job's document written to a file) for documents
# of 20 and 200 pages, beside qpdf rewriting the same file (`qpdf IN OUT`,
# and `qpdf --linearize`, which reads it whole), in the same run. Each page
# holds vector drawing and its own photo (a JPEG of 1600 x 1200): the
# 200-page document is about 80 MB. Needs CUPS_SERVER (the sandbox) for the
# 600 dpi printer's page geometry. Target: peak memory bounded (well under
# 150 MiB, not growing with the page count as the file does) and time that
# grows with the document's size, near qpdf's own copy.
source "$(dirname "$0")/lib.sh"
once=$bench_build/bench/tallowin-print-once
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"

[ -f "$work/photo.jpg" ] || {
  vips gaussnoise "$work/n.v" 1600 1200 --mean 128 --sigma 40
  vips cast "$work/n.v" "$work/c.v" uchar
  vips bandjoin "$work/c.v $work/c.v $work/c.v" "$work/rgb.v"
  vips copy "$work/rgb.v" "$work/photo.jpg[Q=85]"
  rm -f "$work"/{n,c,rgb}.v
}

# make_document PAGES OUT: a PDF written by hand, each page a Letter sheet
# with 400 stroked lines and its own copy of the photo.
make_document() {
  [ -f "$2" ] && return
  python3 - "$1" "$work/photo.jpg" "$2" <<'PY'
import sys, zlib
pages, photo, out = int(sys.argv[1]), open(sys.argv[2], 'rb').read(), sys.argv[3]
objs = []  # bodies as bytes; object n is objs[n-1]
def add(body):
    objs.append(body)
    return len(objs)
catalog = add(b'')
tree = add(b'')
kids = []
for p in range(pages):
    lines = ''.join('%d %d m %d %d l S\n' % (36 + i, 36, 576 - i, 756 - (i * 7 + p) % 700)
                    for i in range(400))
    draw = zlib.compress(('0.2 w ' + lines + 'q 400 0 0 300 106 246 cm /Im Do Q\n').encode())
    content = add(b'<< /Length %d /Filter /FlateDecode >>\nstream\n' % len(draw) + draw +
                  b'\nendstream')
    image = add(b'<< /Type /XObject /Subtype /Image /Width 1600 /Height 1200 '
                b'/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode '
                b'/Length %d >>\nstream\n' % len(photo) + photo + b'\nendstream')
    kids.append(add(b'<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] '
                    b'/Resources << /XObject << /Im %d 0 R >> >> /Contents %d 0 R >>'
                    % (tree, image, content)))
objs[catalog - 1] = b'<< /Type /Catalog /Pages %d 0 R >>' % tree
objs[tree - 1] = (b'<< /Type /Pages /Count %d /Kids [' % pages +
                  b' '.join(b'%d 0 R' % k for k in kids) + b'] >>')
data, offsets = bytearray(b'%PDF-1.4\n'), []
for n, body in enumerate(objs, 1):
    offsets.append(len(data))
    data += b'%d 0 obj\n' % n + body + b'\nendobj\n'
xref = len(data)
data += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1)
data += b''.join(b'%010d 00000 n \n' % o for o in offsets)
data += b'trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (
    len(objs) + 1, catalog, xref)
open(out, 'wb').write(data)
PY
}

printf '| document | size (MB) | pages out | tallowin (s) | qpdf copy (s) | qpdf --linearize (s) | tallowin RSS (MiB) | qpdf copy RSS (MiB) | qpdf --linearize RSS (MiB) |\n'
printf '|---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for pages in 20 200; do
  doc=$work/doc-$pages.pdf
  make_document "$pages" "$doc"
  json=$work/pdf.json
  hyperfine -N --warmup 1 --min-runs 3 --export-json "$json" \
    "$once $doc tallowin-600 --pdf $work/out.pdf" \
    "qpdf $doc $work/copy.pdf" \
    "qpdf --linearize $doc $work/lin.pdf" >/dev/null 2>&1
  out_pages=$(pdfinfo "$work/out.pdf" | awk '/^Pages:/ {print $2}')
  printf '| %d pages | %.1f | %s | %.3f | %.3f | %.3f | %s | %s | %s |\n' "$pages" \
    "$(stat -c %s "$doc" | awk '{print $1/1e6}')" "$out_pages" \
    "$(hf_median "$json" 0)" "$(hf_median "$json" 1)" "$(hf_median "$json" 2)" \
    "$(peak_rss 3 "$once" "$doc" tallowin-600 --pdf "$work/out.pdf")" \
    "$(peak_rss 3 qpdf "$doc" "$work/copy.pdf")" \
    "$(peak_rss 3 qpdf --linearize "$doc" "$work/lin.pdf")"
done
