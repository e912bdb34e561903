#!/usr/bin/env bash
# The whole print job (load, fit, resample, PDF written to a file) for 12, 24
# and 48 megapixel JPEGs (the 48 also tagged 3000 dpi, printed small) and a
# 12 megapixel PNG onto the 600 and 300 dpi test printers, beside the same
# decode + linear resample + encode done by the vips command line (the
# floor), in the same run. Needs CUPS_SERVER (the
# sandbox) for the printers' page geometry. Target: at most 1.3 x the floor in
# time and 2 x its peak memory.
source "$(dirname "$0")/lib.sh"
once=$bench_build/bench/tallowin-print-once
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"

make_image() {  # name width height
  local out=$work/$1
  [ -f "$out" ] && return
  # Photo-like content: a gradient with grain, so that encoders do real work.
  vips xyz "$work/xyz.v" "$2" "$3"
  vips extract_band "$work/xyz.v" "$work/x.v" 0
  vips linear "$work/x.v" "$work/g.v" "$(awk -v w="$2" 'BEGIN{print 255/w}')" 0
  vips gaussnoise "$work/n.v" "$2" "$3" --mean 0 --sigma 12
  vips add "$work/g.v" "$work/n.v" "$work/s.v"
  vips cast "$work/s.v" "$work/c.v" uchar
  vips bandjoin "$work/c.v $work/c.v $work/c.v" "$work/rgb.v"
  vips copy "$work/rgb.v" "$out"
  rm -f "$work"/{xyz,x,g,n,s,c,rgb}.v
}
make_image 12mp.jpg 4000 3000
make_image 24mp.jpg 6000 4000
make_image 48mp.jpg 8000 6000
make_image 12mp.png 4000 3000
# The 48 MP photo tagged 3000 dpi: 2.7 x 2 in on paper, so the 300 dpi
# printer reduces it by 10 (a JPEG decoded shrunk on load), the 600 dpi one
# by 5 (decoded in full).
[ -f "$work/48mp-3000dpi.jpg" ] ||
  vips copy "$work/48mp.jpg" "$work/48mp-3000dpi.jpg" --xres 118.110236 --yres 118.110236

printf '| image | printer | size on paper | floor encodes | tallowin (s) | vips floor (s) | time ratio | tallowin RSS (MiB) | floor RSS (MiB) | RSS ratio |\n'
printf '|---|---|---|---|---:|---:|---:|---:|---:|---:|\n'
# The PNG is compared twice: with the JPEG-encoding floor, and with a
# lossless floor (PNG, the same deflate the lossless page uses).
for run in 12mp.jpg:jpg 24mp.jpg:jpg 48mp.jpg:jpg 48mp-3000dpi.jpg:jpg 12mp.png:jpg 12mp.png:png; do
  img=${run%%:*} floor_ext=${run##*:}
  for queue in tallowin-600 tallowin-300; do
    read -r tw th w h < <("$once" "$work/$img" "$queue" --size)
    scale=$(awk -v a="$tw" -v b="$w" 'BEGIN{printf "%.10f", a/b}')
    vscale=$(awk -v a="$th" -v b="$h" 'BEGIN{printf "%.10f", a/b}')
    floor_out="$work/floor.jpg[Q=95]"
    [ "$floor_ext" = png ] && floor_out="$work/floor.png"
    json=$work/pj.json
    hyperfine -N --warmup 1 --min-runs 5 --export-json "$json" \
      "$once $work/$img $queue --pdf $work/out.pdf" \
      "vips resize $work/$img $floor_out $scale --vscale $vscale --kernel linear" >/dev/null 2>&1
    ours=$(hf_median "$json" 0); base=$(hf_median "$json" 1)
    rss_ours=$(peak_rss 3 "$once" "$work/$img" "$queue" --pdf "$work/out.pdf")
    rss_base=$(peak_rss 3 vips resize "$work/$img" "$floor_out" "$scale" --vscale "$vscale" --kernel linear)
    printf '| %s | %s | %dx%d | %s | %.3f | %.3f | %s | %s | %s | %s |\n' "$img" "$queue" "$tw" "$th" "$floor_ext" \
      "$ours" "$base" "$(ratio "$ours" "$base")" "$rss_ours" "$rss_base" "$(ratio "$rss_ours" "$rss_base")"
  done
done
