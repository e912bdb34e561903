#!/usr/bin/env bash
# The print job's page in one process: the streamed page (decode + resample
# on one thread, encode + PDF on the other) and today's page (whole-image
# libvips render + cairo), both written to a file with the 600 dpi test
# queue's geometry, beside `vips resize --kernel linear` writing a JPEG at
# Q 92 of the same geometry, all in the same run. No printer needed.
# Targets: enlarging <= 0.6 x vips resize, reducing <= 1.0 x; the lossless
# page of a PNG <= 1.5 x the time and the peak memory of vips resize.
# The machine is shared and noisy: the three commands are timed in ROUNDS
# rounds of a few runs each, one after the other within a round, and every
# ratio is the median of the rounds' ratios, so that a slow spell weighs on
# both sides of it.
source "$(dirname "$0")/lib.sh"
once=$bench_build/bench/tallowin-page-once
legacy=$bench_build/bench/tallowin-page-legacy
rounds=${ROUNDS:-5}

make_image() {  # name width height (the same photo-like content as print_job.sh)
  local out=$work/$1
  [ -f "$out" ] && return
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
make_image 12mp.png 4000 3000
# A portrait camera photo: stored landscape, EXIF orientation 6.
if [ ! -f "$work/12mp-turned.jpg" ]; then
  cp "$work/12mp.jpg" "$work/12mp-turned.jpg"
  exiftool -q -overwrite_original -n -Orientation=6 "$work/12mp-turned.jpg"
fi

printf '| image | page (Tw x Th) | streamed (s) | today (s) | vips resize (s) | streamed / vips | today / vips | streamed RSS (MiB) | today RSS (MiB) | vips RSS (MiB) | streamed / vips RSS |\n'
printf '|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
# The size on paper the 600 dpi queue gives each (FitToPage): 4800 wide.
# vips resize works on the stored image, so for the turned photo its scale
# is taken across the stored axes (the same work, less the turn).
for run in 12mp.jpg:4800:3600 24mp.jpg:4800:3200 12mp.png:4800:3600 12mp-turned.jpg:4800:6400; do
  IFS=: read -r img tw th <<<"$run"
  w=$(vipsheader -f width "$work/$img"); h=$(vipsheader -f height "$work/$img")
  if [ "$(vipsheader -f orientation "$work/$img" 2>/dev/null || echo 1)" -ge 5 ]; then
    t=$w; w=$h; h=$t
  fi
  scale=$(awk -v a="$tw" -v b="$w" 'BEGIN{printf "%.10f", a/b}')
  vscale=$(awk -v a="$th" -v b="$h" 'BEGIN{printf "%.10f", a/b}')
  json=$work/pj.json
  new=("$once" "$work/$img" "$tw" "$th" "$work/new.pdf" ${PAGE_ARGS:-})
  old=("$legacy" "$work/$img" "$tw" "$th" "$work/old.pdf")
  base=(vips resize "$work/$img" "$work/floor.jpg[Q=92]" "$scale" --vscale "$vscale" --kernel linear)
  : >"$work/rounds.txt"
  for _ in $(seq "$rounds"); do
    hyperfine -N --warmup 1 --runs 3 --export-json "$json" \
      "${new[*]}" "${old[*]}" "${base[*]}" >/dev/null 2>&1
    echo "$(hf_median "$json" 0) $(hf_median "$json" 1) $(hf_median "$json" 2)" >>"$work/rounds.txt"
  done
  col() { awk -v c="$1" '{print $c}' "$work/rounds.txt" | median; }
  rcol() { awk -v c="$1" '{printf "%.4f\n", $c / $3}' "$work/rounds.txt" | median; }
  t_new=$(col 1); t_old=$(col 2); t_base=$(col 3)
  r_new=$(peak_rss 3 "${new[@]}"); r_old=$(peak_rss 3 "${old[@]}"); r_base=$(peak_rss 3 "${base[@]}")
  printf '| %s | %dx%d | %.3f | %.3f | %.3f | %s | %s | %s | %s | %s | %s |\n' "$img" "$tw" "$th" \
    "$t_new" "$t_old" "$t_base" "$(printf '%.2f' "$(rcol 1)")" "$(printf '%.2f' "$(rcol 2)")" \
    "$r_new" "$r_old" "$r_base" "$(ratio "$r_new" "$r_base")"
done
