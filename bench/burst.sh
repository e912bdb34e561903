#!/usr/bin/env bash
# A burst of photo JPEGs dropped at once into a hot folder of the real
# program (`tallowin --service`, a scratch HOME and XDG folders, one folder
# on QUEUE scanned every second) until the sandbox's backend has written
# every page, beside a loop of `lp -o fit-to-page` over the same files on
# the same queue until every page is written, in the same run. Also the
# service's peak RSS during the burst (VmHWM, reset once it is idle) beside
# its idle RSS (VmRSS). Needs CUPS_SERVER (the sandbox).
# Targets: >= 1.5 x lp's files per minute; peak at most 32 MiB above idle.
#   bench/burst.sh [QUEUE]   (FILES=50 by default)
source "$(dirname "$0")/lib.sh"
exe=$bench_build/tallowin
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"
queue=${1:-tallowin-600}
files=${FILES:-50}
out=$(dirname "$CUPS_SERVER")/output/$queue

# Camera-like 8 MP photos (gradient with grain), JFIF kept so that lp's
# filters recognise them; each file its own content, so nothing is cached.
photos=$work/burst-photos
if [ ! -f "$photos/IMG_$(printf %04d "$files").jpg" ]; then
  mkdir -p "$photos"
  python3 - "$photos" "$files" <<'PY'
import subprocess, sys
d, n = sys.argv[1], int(sys.argv[2])
for i in range(1, n + 1):
    subprocess.run(["vips", "gaussnoise", f"{d}/n.v", "3264", "2448", "--mean", "0",
                    "--sigma", "6", "--seed", str(i)], check=True)
    subprocess.run(["vips", "xyz", f"{d}/xy.v", "3264", "2448"], check=True)
    # r from x, g from y, b a mix: a smooth photo with grain.
    subprocess.run(["vips", "linear", f"{d}/xy.v", f"{d}/g.v", "0.05 0.08", f"{30 + i} 20"],
                   check=True)
    subprocess.run(["vips", "bandmean", f"{d}/g.v", f"{d}/m.v"], check=True)
    subprocess.run(["vips", "bandjoin", f"{d}/g.v {d}/m.v", f"{d}/c.v"], check=True)
    subprocess.run(["vips", "add", f"{d}/c.v", f"{d}/n.v", f"{d}/s.v"], check=True)
    subprocess.run(["vips", "cast", f"{d}/s.v", f"{d}/u.v", "uchar"], check=True)
    subprocess.run(["vips", "copy", f"{d}/u.v", f"{d}/IMG_{i:04d}.jpg[Q=90]",
                    "--interpretation", "srgb"], check=True)
for f in ["n", "xy", "g", "m", "c", "s", "u"]:
    subprocess.run(["rm", "-f", f"{d}/{f}.v"])
PY
fi

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
secs() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", (b-a)/1e9}'; }
per_min() { awk -v n="$1" -v s="$2" 'BEGIN{printf "%.1f", n*60/s}'; }
kib() { awk '/^'"$2"':/{print $2}' "/proc/$1/status"; }

# The baseline: lp over every file, one after the other, until all pages
# are written.
before=$(jobs_done)
t0=$(now_ns)
for f in "$photos"/IMG_*.jpg; do
  lp -h "$CUPS_SERVER" -d "$queue" -o fit-to-page "$f" >/dev/null
done
wait_jobs "$before" "$files"
t_lp=$(secs "$t0" "$(now_ns)")

# The service, headless, on a scratch profile.
svc=$work/burst-service
rm -rf "$svc"
mkdir -p "$svc/home" "$svc/config/tallowin" "$svc/state" "$svc/hot" "$svc/stage"
printf '[Init]\nFHNumber=1\n[HotFolder0]\nName=burst\nFolderPath=%s\nPrinterName=%s\nScanTime=1\n' \
  "$svc/hot" "$queue" >"$svc/config/tallowin/tallowin.ini"
HOME=$svc/home XDG_CONFIG_HOME=$svc/config XDG_STATE_HOME=$svc/state \
  DISPLAY='' WAYLAND_DISPLAY='' "$exe" --service 2>"$svc/service.log" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true' EXIT
until grep -q '<6>started' "$svc/service.log"; do
  kill -0 "$pid" || { cat "$svc/service.log" >&2; exit 1; }
  sleep 0.1
done
sleep 3  # a few idle scans
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
before=$(jobs_done)
t0=$(now_ns)
mv "$svc/stage"/IMG_*.jpg "$svc/hot/"
wait_jobs "$before" "$files"
t_ours=$(secs "$t0" "$(now_ns)")
peak=$(kib "$pid" VmHWM)
# The files go once their jobs completed: all of them, none left behind.
for _ in $(seq 100); do
  [ -z "$(ls -A -I .tallowin-claims "$svc/hot")" ] && break
  sleep 0.1
done
left=$(find "$svc/hot" -maxdepth 1 -type f | wc -l)  # the claim folder holds no picture

mib() { awk -v k="$1" 'BEGIN{printf "%.1f", k/1024}'; }
printf '| queue | files | tallowin --service (s) | lp loop (s) | tallowin (files/min) | lp (files/min) | ratio | idle RSS (MiB) | idle after one file (MiB) | peak RSS (MiB) | peak - idle (MiB) | peak - idle after one file (MiB) | files left |\n'
printf '|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
printf '| %s | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %d |\n' "$queue" "$files" \
  "$t_ours" "$t_lp" "$(per_min "$files" "$t_ours")" "$(per_min "$files" "$t_lp")" \
  "$(ratio "$t_lp" "$t_ours")" "$(mib "$idle")" "$(mib "$warm")" "$(mib "$peak")" \
  "$(mib $((peak - idle)))" "$(mib $((peak - warm)))" "$left"
