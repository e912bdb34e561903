#!/usr/bin/env bash
# The size of a JPEG source's job: the PDF that `tallowin-print-once FILE
# QUEUE --pdf OUT` writes (what the backend receives), for photo-like and
# noise-heavy camera JPEGs of 8 and 24 megapixels on the 600 and 300 dpi
# printers, today's build (the baseline bench/run made) beside the current
# one. Without a baseline only the current sizes are printed. Needs
# CUPS_SERVER (the sandbox) for the printers' page geometry.
# Target: the current job at most 0.5 x the baseline's.
source "$(dirname "$0")/lib.sh"
once=$bench_build/bench/tallowin-print-once
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"

# The burst's content at two sizes, each a camera's 72 dpi or vips's
# default, so that it is fitted to the page.
photo_jpeg "$work/photo-8mp.jpg" 3264 2448 1
photo_jpeg "$work/photo-24mp.jpg" 6000 4000 1
noisy_jpeg "$work/noisy-8mp.jpg" 3264 2448 1
noisy_jpeg "$work/noisy-24mp.jpg" 6000 4000 1

# job_bytes ONCE IMAGE QUEUE: bytes of the job's document.
job_bytes() {
  "$1" "$work/$2" "$3" --pdf "$work/size.pdf"
  stat -c %s "$work/size.pdf"
}

printf '| image | source (KiB) | chroma | printer | size on paper | %s job (KiB) | current job (KiB) | current / %s |\n' \
  "$baseline_name" "$baseline_name"
printf '|---|---:|---|---|---|---:|---:|---:|\n'
for img in photo-8mp.jpg noisy-8mp.jpg photo-24mp.jpg noisy-24mp.jpg; do
  chroma=$(vipsheader -f jpeg-chroma-subsample "$work/$img")
  for queue in tallowin-600 tallowin-300; do
    read -r tw th _ < <("$once" "$work/$img" "$queue" --size)
    new=$(job_bytes "$once" "$img" "$queue")
    old=- old_kib=- size_ratio=-
    if [ -n "$baseline_build" ]; then
      old=$(job_bytes "$baseline_build/bench/tallowin-print-once" "$img" "$queue")
      old_kib=$((old / 1024))
      size_ratio=$(ratio "$new" "$old")
    fi
    printf '| %s | %d | %s | %s | %dx%d | %s | %d | %s |\n' "$img" \
      "$(($(stat -c %s "$work/$img") / 1024))" "$chroma" "$queue" "$tw" "$th" \
      "$old_kib" "$((new / 1024))" "$size_ratio"
  done
done
