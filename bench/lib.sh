# Shared by the comparison scripts: where the programs are, the test images,
# and how figures are summarised. Sourced, not run.
set -euo pipefail
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_build=${TALLOWIN_BENCH_BUILD:-$bench_root/build/bench}
# Today's build, when bench/run made one (empty: no baseline columns).
baseline_build=${TALLOWIN_BENCH_BASELINE_BUILD:-}
baseline_name=${TALLOWIN_BENCH_BASELINE_NAME:-baseline}

# Cleanups, run last first when the script ends however it ends; a script
# adds its own with on_exit rather than replacing the trap.
bench_exit=()
on_exit() { bench_exit+=("$1"); }
run_exit() {
  local i
  for ((i = ${#bench_exit[@]} - 1; i >= 0; i--)); do eval "${bench_exit[i]}" || true; done
}
trap run_exit EXIT

# The work folder keeps the test images from one script to the next: one
# bench/run makes each image once. A script run alone makes its own and
# removes it at the end.
if [ -n "${TALLOWIN_BENCH_WORK:-}" ]; then
  work=$TALLOWIN_BENCH_WORK
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/tallowin-bench.XXXXXX")
  on_exit 'rm -rf "$work"'
fi

# median of the numbers on standard input
median() { sort -g | awk '{a[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

# peak RSS in MiB of a command, median of N runs: peak_rss N cmd args...
peak_rss() {
  local n=$1; shift
  for _ in $(seq "$n"); do
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
  done | median | awk '{printf "%.1f", $1/1024}'
}

# median wall time in seconds from a hyperfine JSON export, command index i
hf_median() { python3 -c 'import json,sys; print("%.4f" % json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$1" "$2"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a/b}'; }

# --- Test images. Each generator writes OUT whole (renamed into place) and
# only when it is missing, so a file that exists is complete.

# photo_jpeg OUT W H SEED: photo-like content, a smooth colour gradient with
# light grain (sigma 6), saved by vips at Q 90 (which keeps the chroma whole,
# 4:4:4). At 3264 x 2448 these are the burst's photos as they always were.
photo_jpeg() {
  local out=$1 w=$2 h=$3 seed=$4 t
  [ -f "$out" ] && return
  t=$(mktemp -d "$work/.photo.XXXXXX")
  vips gaussnoise "$t/n.v" "$w" "$h" --mean 0 --sigma 6 --seed "$seed"
  vips xyz "$t/xy.v" "$w" "$h"
  # r from x, g from y, b a mix: a smooth photo with grain.
  vips linear "$t/xy.v" "$t/g.v" "$(awk -v w="$w" -v h="$h" 'BEGIN{print 163.2/w, 195.84/h}')" \
    "$((30 + seed)) 20"
  vips bandmean "$t/g.v" "$t/m.v"
  vips bandjoin "$t/g.v $t/m.v" "$t/c.v"
  vips add "$t/c.v" "$t/n.v" "$t/s.v"
  vips cast "$t/s.v" "$t/u.v" uchar
  vips copy "$t/u.v" "$t/out.jpg[Q=90]" --interpretation srgb
  mv "$t/out.jpg" "$out"
  rm -rf "$t"
}

# noisy_jpeg OUT W H SEED [DPI]: a photo taken at ISO 3200 and above, the
# content that costs the entropy coder most. A smooth scene (colour
# gradient, broad light and shade) under strong grain: luma noise of sigma
# 14 on every pixel, and chroma noise of sigma 9 on each of R, G and B in
# 2 x 2 pixel blotches, as demosaicing leaves it. Saved as a camera does:
# quality 93, chroma 4:2:0, a JFIF header (beside vips's Exif) carrying DPI
# (default 72, as cameras write).
noisy_jpeg() {
  local out=$1 w=$2 h=$3 seed=$4 dpi=${5:-72} t scene cw ch
  [ -f "$out" ] && return
  scene=$work/.scene-${w}x$h-$dpi.v
  t=$(mktemp -d "$work/.noisy.XXXXXX")
  if [ ! -f "$scene" ]; then  # the same scene for every seed: the grain makes each file its own
    vips xyz "$t/xy.v" "$w" "$h"
    vips linear "$t/xy.v" "$t/g.v" "$(awk -v w="$w" -v h="$h" 'BEGIN{print 150/w, 170/h}')" "60 30"
    vips bandmean "$t/g.v" "$t/m.v"
    vips bandjoin "$t/g.v $t/m.v" "$t/c.v"
    vips sines "$t/s.v" "$w" "$h" --hfreq 2.5 --vfreq 1.5
    vips linear "$t/s.v" "$t/l.v" 35 20
    vips add "$t/c.v" "$t/l.v" "$t/a.v"
    vips cast "$t/a.v" "$t/u.v" uchar
    local res
    res=$(awk -v d="$dpi" 'BEGIN{printf "%.6f", d/25.4}')
    vips copy "$t/u.v" "$t/scene.v" --interpretation srgb --xres "$res" --yres "$res"
    mv "$t/scene.v" "$scene"
  fi
  vips gaussnoise "$t/luma.v" "$w" "$h" --mean 0 --sigma 14 --seed "$seed"
  cw=$(((w + 1) / 2)) ch=$(((h + 1) / 2))
  # R, G and B side by side, folded into three bands, each sample to 2 x 2
  vips gaussnoise "$t/c.v" $((cw * 3)) "$ch" --mean 0 --sigma 9 --seed $((seed + 1000000))
  vips bandfold "$t/c.v" "$t/cf.v" --factor 3
  vips zoom "$t/cf.v" "$t/chroma.v" 2 2
  if [ $((w % 2 + h % 2)) -ne 0 ]; then
    vips extract_area "$t/chroma.v" "$t/cx.v" 0 0 "$w" "$h"
    mv "$t/cx.v" "$t/chroma.v"
  fi
  # The scene first: the sum takes its header (sRGB, resolution).
  vips sum "$scene $t/luma.v $t/chroma.v" "$t/sum.v"
  vips cast "$t/sum.v" "$t/out.jpg[Q=93,subsample-mode=on]" uchar
  jfif_header "$t/out.jpg" "$dpi" "$t/jfif.jpg"
  mv "$t/jfif.jpg" "$out"
  rm -rf "$t"
}

# jfif_header IN DPI OUT: IN with a JFIF APP0 (1.01, DPI dots per inch)
# right after the start of image, as cameras and phones write it; vips
# writes only Exif.
jfif_header() {
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
src, dpi, dst = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = open(src, 'rb').read()
assert data[:2] == b'\xff\xd8', src + ': not a JPEG'
app0 = b'JFIF\x00' + struct.pack('>BBBHHBB', 1, 1, 1, dpi, dpi, 0, 0)
open(dst, 'wb').write(data[:2] + b'\xff\xe0' + struct.pack('>H', len(app0) + 2) + app0 + data[2:])
PY
}

# photo_set KIND DIR N W H: DIR/IMG_0001.jpg ... IMG_N.jpg of KIND (photo
# or noisy), file i made with seed i, so nothing is the same twice.
photo_set() {
  local kind=$1 dir=$2 n=$3 w=$4 h=$5 i
  mkdir -p "$dir"
  for i in $(seq "$n"); do
    case $kind in
      photo) photo_jpeg "$dir/IMG_$(printf %04d "$i").jpg" "$w" "$h" "$i" ;;
      noisy) noisy_jpeg "$dir/IMG_$(printf %04d "$i").jpg" "$w" "$h" "$i" ;;
      *) echo "unknown content: $kind (photo or noisy)" >&2; return 2 ;;
    esac
  done
}
