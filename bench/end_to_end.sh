#!/usr/bin/env bash
# A file handed to the print job (load, fit, the page streamed into the
# job as it is decoded: the hot folder's path) until the sandbox's backend
# has written the page, beside `lp -o fit-to-page` of the same file on the
# same queue until its page is written, alternated in the same run. The
# print job runs twice: in a process that stays and is handed one file after
# another, as the application's worker is (the target's measure), and in a
# new process per page, which adds the program's start-up (dynamic linking,
# libvips starting). Needs CUPS_SERVER (the sandbox). Target: <= 0.75 x lp.
source "$(dirname "$0")/lib.sh"
once=$bench_build/bench/tallowin-print-once
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"
queue=${1:-tallowin-600}
out=$(dirname "$CUPS_SERVER")/output/$queue
runs=${RUNS:-5}

# A camera-like JPEG: it keeps its JFIF header, which the image filters that
# `lp` runs need to recognise the file.
img=$work/e2e.jpg
if [ ! -f "$img" ]; then
  vips gaussnoise "$work/n.v" 4000 3000 --mean 128 --sigma 30
  vips cast "$work/n.v" "$work/c.v" uchar
  vips bandjoin "$work/c.v $work/c.v $work/c.v" "$img[Q=90]"
  rm -f "$work"/{n,c}.v
fi

now_ns() { date +%s%N; }

coproc SERVER { "$once" --serve "$queue"; }
trap 'exec {SERVER[1]}>&-; wait' EXIT
# Hands a file to the running print job and waits for its answer.
serve() {
  echo "$1" >&"${SERVER[1]}"
  local reply
  read -r reply <&"${SERVER[0]}"
  [ "$reply" = ok ] || { echo "served print job failed: $1" >&2; exit 1; }
}
# Runs a command, then waits for one more finished job in the queue's output
# folder; prints "seconds bytes".
timed_job() {
  local before t0 t1 data
  before=$(find "$out" -name 'job-*.data' | wc -l)
  t0=$(now_ns)
  "$@" >/dev/null
  until [ "$(find "$out" -name 'job-*.data' | wc -l)" -gt "$before" ]; do sleep 0.01; done
  t1=$(now_ns)
  # The newest job; sort reads all its input, so nothing dies of SIGPIPE
  # under pipefail however many jobs the folder holds.
  data=$(find "$out" -name 'job-*.data' -printf '%T@ %p\n' | sort -n | tail -n 1 | cut -d' ' -f2-)
  # An empty job is a filter that failed: no figure to compare.
  [ -s "$data" ] || { echo "empty job from: $*" >&2; exit 1; }
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", (b-a)/1e9}') $(stat -c %s "$data")"
}

timed_job serve "$img" >/dev/null  # warm: libvips started, code paged in
: > "$work/served.txt"; : > "$work/ours.txt"; : > "$work/lp.txt"
for _ in $(seq "$runs"); do
  timed_job serve "$img" >> "$work/served.txt"
  timed_job "$once" "$img" "$queue" >> "$work/ours.txt"
  timed_job lp -h "$CUPS_SERVER" -d "$queue" -o fit-to-page "$img" >> "$work/lp.txt"
done
t_served=$(cut -d' ' -f1 "$work/served.txt" | median); s_ours=$(cut -d' ' -f2 "$work/served.txt" | median)
t_ours=$(cut -d' ' -f1 "$work/ours.txt" | median)
t_lp=$(cut -d' ' -f1 "$work/lp.txt" | median); s_lp=$(cut -d' ' -f2 "$work/lp.txt" | median)
printf '| queue | print job, running process (s) | print job, new process (s) | lp -o fit-to-page (s) | ratio, running | ratio, new process | tallowin job (KiB) | lp job (KiB) | size ratio |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
printf '| %s | %s | %s | %s | %s | %s | %d | %d | %s |\n' "$queue" "$t_served" "$t_ours" "$t_lp" \
  "$(ratio "$t_served" "$t_lp")" "$(ratio "$t_ours" "$t_lp")" \
  "$((${s_ours%.*} / 1024))" "$((${s_lp%.*} / 1024))" "$(ratio "$s_ours" "$s_lp")"
