#!/usr/bin/env bash
# Makes the picture seeds of fuzz_image_page (corpus/fuzz_image_page/):
# tiny valid files of each format the loader reads (a PDF document too), in the variants whose
# paths differ (grey, alpha, 16 bits, palette, CMYK, progressive,
# interlaced, tiled, turned by EXIF, with a resolution, much wider than the
# page). Run once; the files are committed, so that the corpus does not
# change with the machine's libvips. Needs vips and exiftool
# (scripts/setup installs both).
set -euo pipefail
cd "$(dirname "$0")"
out=$PWD/corpus/fuzz_image_page
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowin-seeds.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.{jpg,png,gif,tif,webp,pdf}
cd "$work"

# 6 x 4 gradients: RGB, grey, RGB with alpha, 16-bit RGB; a 1600 x 8 strip
# that the page reduces by more than 10.
vips xyz xyz.v 6 4
vips linear xyz.v rg.v "40 60" "10 20" --uchar
vips extract_band xyz.v x.v 0
vips linear x.v b.v 30 5 --uchar
vips bandjoin "rg.v b.v" rgb.v
vips extract_band rgb.v grey.v 0
vips bandjoin_const rgb.v rgba.v 200
vips bandjoin_const grey.v greya.v 128
vips linear rgb.v rgb16.v 257 0
vips cast rgb16.v rgb16u.v ushort
vips colourspace rgb16u.v rgb16s.v rgb16
vips colourspace rgb.v cmyk.v cmyk
vips xyz wide0.v 1600 8
vips extract_band wide0.v wide1.v 0
vips linear wide1.v wide.v 0.1 20 --uchar

vips jpegsave rgb.v "$out/rgb.jpg" --Q 50 --strip
vips jpegsave rgb.v "$out/progressive.jpg" --Q 50 --strip --interlace
vips jpegsave grey.v "$out/grey.jpg" --Q 50 --strip
vips jpegsave cmyk.v "$out/cmyk.jpg" --Q 50 --strip
vips jpegsave rgb.v "$out/444-restart.jpg" --Q 50 --strip --subsample-mode off \
  --restart-interval 1
vips jpegsave wide.v "$out/wide.jpg" --Q 30 --strip
cp "$out/rgb.jpg" "$out/turned-300dpi.jpg"
exiftool -q -overwrite_original -n -Orientation=6 -XResolution=300 -YResolution=300 \
  -ResolutionUnit=2 "$out/turned-300dpi.jpg"

vips pngsave rgb.v "$out/rgb.png" --strip
vips pngsave rgba.v "$out/rgba.png" --strip
vips pngsave greya.v "$out/grey-alpha.png" --strip
vips pngsave rgb16s.v "$out/rgb16.png" --strip --bitdepth 16
vips pngsave rgb.v "$out/palette.png" --strip --palette
vips pngsave rgb.v "$out/interlaced.png" --strip --interlace
vips pngsave wide.v "$out/wide.png" --strip
# pngsave always writes a pHYs chunk; this one says 150 dots per inch.
vips copy rgb.v res.v --xres 5.9055 --yres 5.9055
vips pngsave res.v "$out/150dpi.png"

vips gifsave rgba.v "$out/rgba.gif"
vips gifsave grey.v "$out/grey.gif"

vips tiffsave rgb.v "$out/rgb.tif" --strip
vips tiffsave rgb.v "$out/lzw-tiled.tif" --strip --compression lzw --tile \
  --tile-width 16 --tile-height 16
vips tiffsave rgb16s.v "$out/rgb16-deflate.tif" --strip --compression deflate
vips tiffsave cmyk.v "$out/cmyk.tif" --strip
vips tiffsave grey.v "$out/grey-jpeg.tif" --strip --compression jpeg --Q 50
vips tiffsave res.v "$out/150dpi.tif" --strip --resunit inch

vips webpsave rgb.v "$out/lossy.webp" --Q 50 --strip
vips webpsave rgba.v "$out/lossless-alpha.webp" --lossless --strip

# A PDF document of two pages (a cropped one, a turned one, contents in
# two pieces), written by hand so that every structure is in plain sight.
python3 - "$out/document.pdf" <<'PY'
import sys
objs = [b'<< /Type /Catalog /Pages 2 0 R >>',
        b'<< /Type /Pages /Count 2 /Kids [3 0 R 4 0 R] /MediaBox [0 0 200 100] >>',
        b'<< /Type /Page /Parent 2 0 R /CropBox [10 10 150 90] /Contents 5 0 R >>',
        b'<< /Type /Page /Parent 2 0 R /Rotate 90 /UserUnit 2 /Contents [5 0 R 6 0 R] >>',
        b'<< /Length 12 >>\nstream\n0 g 0 0 50 \nendstream',
        b'<< /Length 8 >>\nstream\n50 re f\n\nendstream']
data, offsets = bytearray(b'%PDF-1.4\n'), []
for n, body in enumerate(objs, 1):
    offsets.append(len(data))
    data += b'%d 0 obj\n%s\nendobj\n' % (n, body)
xref = len(data)
data += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1)
data += b''.join(b'%010d 00000 n \n' % o for o in offsets)
data += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, xref)
open(sys.argv[1], 'wb').write(data)
PY

du -cb "$out"/* | tail -1
