#!/usr/bin/env bash
# A burst of camera JPEGs dropped at once into a hot folder of the real
# program (`tallowin --service`, a scratch HOME and XDG folders, one folder
# on QUEUE scanned every second) until the sandbox's backend has written
# every page, beside a loop of `lp -o fit-to-page` over the same files on
# the same queue until every page is written, in the same run. Also the
# service's peak RSS during the burst (VmHWM, reset once it is idle) beside
# its idle RSS (VmRSS), and the mean size of a job as the backend received
# it. When bench/run built today's code as a baseline, its service takes
# the same burst and has its own row, against the same lp loop.
# Needs CUPS_SERVER (the sandbox).
# Targets: >= 1.5 x lp's files per minute; peak at most 32 MiB above idle.
#   bench/burst.sh [QUEUE]   (FILES=50, CONTENT=photo or noisy)
source "$(dirname "$0")/lib.sh"
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"
queue=${1:-tallowin-600}
files=${FILES:-50}
content=${CONTENT:-photo}
out=$(dirname "$CUPS_SERVER")/output/$queue

# 8 MP camera photos, each file its own content so that nothing is cached:
# photo-like (gradient with grain) or noise-heavy (high-ISO grain, 4:2:0).
photos=$work/burst-$content
photo_set "$content" "$photos" "$files" 3264 2448

now_ns() { date +%s%N; }
# Counts the finished jobs with a glob in this shell: the waiting loop
# below runs 20 times a second beside a CPU-bound burst, and a find | wc
# pipeline each time took processor time from both sides being measured.
count_jobs() {
  local found=("$out"/job-*.data)
  counted=0
  [ -e "${found[0]}" ] && counted=${#found[@]}
  return 0
}
jobs_done() {
  count_jobs
  echo "$counted"
}
# Waits until the queue's output folder holds n more finished jobs than before.
wait_jobs() {
  local target=$(($1 + $2))
  count_jobs
  until [ "$counted" -ge "$target" ]; do
    sleep 0.05
    count_jobs
  done
}
# Mean size in KiB of the jobs written after the file MARK.
mean_job_kib() {
  find "$out" -name 'job-*.data' -newer "$1" -printf '%s\n' |
    awk '{s += $1; n++} END {if (n) printf "%.0f", s / n / 1024; else print "nan"}'
}
secs() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", (b-a)/1e9}'; }
per_min() { awk -v n="$1" -v s="$2" 'BEGIN{printf "%.1f", n*60/s}'; }
kib() { awk '/^'"$2"':/{print $2}' "/proc/$1/status"; }
mib() { awk -v k="$1" 'BEGIN{printf "%.1f", k/1024}'; }

# The baseline: lp over every file, one after the other, until all pages
# are written.
touch "$work/burst-mark"
sleep 0.01  # the jobs to count are strictly newer than the mark
before=$(jobs_done)
t0=$(now_ns)
for f in "$photos"/IMG_*.jpg; do
  lp -h "$CUPS_SERVER" -d "$queue" -o fit-to-page "$f" >/dev/null
done
wait_jobs "$before" "$files"
t_lp=$(secs "$t0" "$(now_ns)")
job_lp=$(mean_job_kib "$work/burst-mark")

pid=
on_exit '[ -z "$pid" ] || { kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }'

# burst LABEL EXE: the service EXE, headless on a scratch profile, takes the
# whole burst; prints its row of the table.
burst() {
  local label=$1 exe=$2 svc=$work/burst-service
  rm -rf "$svc"
  mkdir -p "$svc/home" "$svc/config/tallowin" "$svc/state" "$svc/hot" "$svc/stage"
  printf '[Init]\nFHNumber=1\n[HotFolder0]\nName=burst\nFolderPath=%s\nPrinterName=%s\nScanTime=1\n' \
    "$svc/hot" "$queue" >"$svc/config/tallowin/tallowin.ini"
  : >"$svc/service.log"
  HOME=$svc/home XDG_CONFIG_HOME=$svc/config XDG_STATE_HOME=$svc/state \
    DISPLAY='' WAYLAND_DISPLAY='' "$exe" --service 2>"$svc/service.log" &
  pid=$!
  until grep -q '<6>started' "$svc/service.log"; do
    kill -0 "$pid" || { cat "$svc/service.log" >&2; exit 1; }
    sleep 0.1
  done
  sleep 3  # a few idle scans
  local idle warm
  idle=$(kib "$pid" VmRSS)
  # Idle again after one file: libvips started, its modules and the page
  # code paged in, the allocator's arenas made; what stays for the next burst.
  cp "$photos/IMG_0001.jpg" "$svc/stage/warm.jpg"
  mv "$svc/stage/warm.jpg" "$svc/hot/"
  until [ -z "$(ls -A -I .tallowin-claims "$svc/hot")" ]; do sleep 0.1; done
  sleep 3
  warm=$(kib "$pid" VmRSS)
  echo 5 >"/proc/$pid/clear_refs"  # VmHWM from here on: the burst's peak

  # Staged on the same file system, then dropped at once.
  cp "$photos"/IMG_*.jpg "$svc/stage/"
  touch "$work/burst-mark"
  sleep 0.01
  local before t0 t_ours peak left job
  before=$(jobs_done)
  t0=$(now_ns)
  mv "$svc/stage"/IMG_*.jpg "$svc/hot/"
  wait_jobs "$before" "$files"
  t_ours=$(secs "$t0" "$(now_ns)")
  peak=$(kib "$pid" VmHWM)
  job=$(mean_job_kib "$work/burst-mark")
  # The files go once their jobs completed: all of them, none left behind.
  for _ in $(seq 100); do
    [ -z "$(ls -A -I .tallowin-claims "$svc/hot")" ] && break
    sleep 0.1
  done
  left=$(find "$svc/hot" -maxdepth 1 -type f | wc -l)  # the claim folder holds no picture
  kill -TERM "$pid"
  wait "$pid" || true
  pid=

  printf '| %s | %s | %s | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %d |\n' \
    "$content" "$label" "$queue" "$files" \
    "$t_ours" "$t_lp" "$(per_min "$files" "$t_ours")" "$(per_min "$files" "$t_lp")" \
    "$(ratio "$t_lp" "$t_ours")" "$job" "$job_lp" "$(mib "$idle")" "$(mib "$warm")" "$(mib "$peak")" \
    "$(mib $((peak - idle)))" "$(mib $((peak - warm)))" "$left"
}

printf '| content | build | queue | files | tallowin --service (s) | lp loop (s) | tallowin (files/min) | lp (files/min) | ratio | tallowin job (KiB) | lp job (KiB) | idle RSS (MiB) | idle after one file (MiB) | peak RSS (MiB) | peak - idle (MiB) | peak - idle after one file (MiB) | files left |\n'
printf '|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
burst current "$bench_build/tallowin"
[ -z "$baseline_build" ] || burst "$baseline_name" "$baseline_build/tallowin"
