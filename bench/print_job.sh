#!/usr/bin/env bash
# The whole print job (load, fit, resample, PDF written to a file) for 12, 24
# and 48 megapixel JPEGs (the 48 also tagged 3000 dpi, printed small), a
# 12 megapixel PNG, and a noise-heavy 24 megapixel camera JPEG (high-ISO
# grain, 4:2:0, tagged 750 and 1500 dpi so that the 600 dpi printer reduces
# it by 1.25 and by 2.5) onto the 600 and 300 dpi test printers, beside the
# same decode + linear resample + encode done by the vips command line (the
# floor), in the same run; when bench/run built today's code as a baseline,
# its print job is timed in the same hyperfine run. Needs CUPS_SERVER (the
# sandbox) for the printers' page geometry. Targets: at most 1.3 x the floor
# in time and 2 x its peak memory; the noisy JPEG at most 1.0 x the floor.
# A JPEG's floor writes quality 92, as its page does.
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
# The noisy 24 MP photo at 750 dpi is 8 x 5.3 in (4800 x 3200 at 600 dpi),
# at 1500 dpi 4 x 2.7 in (2400 x 1600): the same pixels, tagged apart.
noisy_jpeg "$work/noisy-24mp-750dpi.jpg" 6000 4000 1 750
noisy_jpeg "$work/noisy-24mp-1500dpi.jpg" 6000 4000 1 1500

baseline_once=
[ -z "$baseline_build" ] || baseline_once=$baseline_build/bench/tallowin-print-once

printf '| image | printer | size on paper | reduced by | floor encodes | tallowin (s) | %s (s) | vips floor (s) | time ratio | %s time ratio | tallowin RSS (MiB) | floor RSS (MiB) | RSS ratio |\n' \
  "$baseline_name" "$baseline_name"
printf '|---|---|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
# IMAGE:FLOOR:QUEUES. The PNG is compared twice: with the JPEG-encoding
# floor, and with a lossless floor (PNG, the same deflate the lossless page
# uses). A JPEG's floor writes quality 92, as its page does.
for run in 12mp.jpg:jpg92:600,300 24mp.jpg:jpg92:600,300 48mp.jpg:jpg92:600,300 \
  48mp-3000dpi.jpg:jpg92:600,300 12mp.png:jpg:600,300 12mp.png:png:600,300 \
  noisy-24mp-750dpi.jpg:jpg92:600 noisy-24mp-1500dpi.jpg:jpg92:600; do
  IFS=: read -r img floor dpis <<<"$run"
  for dpi in ${dpis//,/ }; do
    queue=tallowin-$dpi
    read -r tw th w h < <("$once" "$work/$img" "$queue" --size)
    scale=$(awk -v a="$tw" -v b="$w" 'BEGIN{printf "%.10f", a/b}')
    vscale=$(awk -v a="$th" -v b="$h" 'BEGIN{printf "%.10f", a/b}')
    case $floor in
      jpg) floor_out="$work/floor.jpg[Q=95]" floor_label="jpg Q95" ;;
      jpg92) floor_out="$work/floor.jpg[Q=92]" floor_label="jpg Q92" ;;
      png) floor_out="$work/floor.png" floor_label=png ;;
    esac
    json=$work/pj.json
    cmds=("$once $work/$img $queue --pdf $work/out.pdf"
      "vips resize $work/$img $floor_out $scale --vscale $vscale --kernel linear")
    [ -z "$baseline_once" ] || cmds+=("$baseline_once $work/$img $queue --pdf $work/base.pdf")
    hyperfine -N --warmup 1 --min-runs 5 --export-json "$json" "${cmds[@]}" >/dev/null 2>&1
    ours=$(hf_median "$json" 0); base=$(hf_median "$json" 1)
    old=- old_ratio=-
    if [ -n "$baseline_once" ]; then
      old=$(hf_median "$json" 2)
      old_ratio=$(ratio "$old" "$base")
      old=$(printf '%.3f' "$old")
    fi
    rss_ours=$(peak_rss 3 "$once" "$work/$img" "$queue" --pdf "$work/out.pdf")
    rss_base=$(peak_rss 3 vips resize "$work/$img" "$floor_out" "$scale" --vscale "$vscale" --kernel linear)
    printf '| %s | %s | %dx%d | %s | %s | %.3f | %s | %.3f | %s | %s | %s | %s | %s |\n' "$img" "$queue" \
      "$tw" "$th" "$(awk -v a="$w" -v b="$tw" 'BEGIN{printf "%.2f", a/b}')" "$floor_label" \
      "$ours" "$old" "$base" "$(ratio "$ours" "$base")" "$old_ratio" \
      "$rss_ours" "$rss_base" "$(ratio "$rss_ours" "$rss_base")"
  done
done
