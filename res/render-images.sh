#!/usr/bin/env bash
# Renders the committed PNG pictures from their SVG drawings. The build uses
# the PNGs as they are; run this only after changing a drawing. Needs
# rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert -w 256 -h 256 tallowin.svg -o tallowin.png
rsvg-convert -w 32 -h 32 tallowin.svg -o tallowin-32.png
# 16 px has its own drawing, aligned to the pixel grid.
rsvg-convert -w 16 -h 16 tallowin-16.svg -o tallowin-16.png
rsvg-convert -w 48 -h 48 printer.svg -o printer.png
