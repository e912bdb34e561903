#!/usr/bin/env bash
# The streamed page sent as a job (tallowin-page-once FILE TW TH cups:QUEUE:
# decode, resample, encode and send overlapped) until the sandbox's backend
# has written it, beside `lp -o fit-to-page` of the same file on the same
# queue until its page is written, alternated in the same run. The same
# measure as end_to_end.sh, for the streamed path before it is wired into
# the print job. Measured twice: a new process per page (start-up and
# libvips' initialisation included, as end_to_end.sh does), and a process
# that stays and is handed one page after another (--serve), as the
# application is. Needs CUPS_SERVER (the sandbox). Target: <= 0.75 x lp.
source "$(dirname "$0")/lib.sh"
once=$bench_build/bench/tallowin-page-once
: "${CUPS_SERVER:?start the sandbox: CUPS_SERVER=\$(scripts/cups-sandbox start)}"
queue=${1:-tallowin-600}
out=$(dirname "$CUPS_SERVER")/output/$queue
runs=${RUNS:-5}

# The camera-like JPEG of end_to_end.sh; its size on paper on the 600 dpi
# queue is 4800 x 3600.
img=$work/e2e.jpg
if [ ! -f "$img" ]; then
  vips gaussnoise "$work/n.v" 4000 3000 --mean 128 --sigma 30
  vips cast "$work/n.v" "$work/c.v" uchar
  vips bandjoin "$work/c.v $work/c.v $work/c.v" "$img[Q=90]"
  rm -f "$work"/{n,c}.v
fi

now_ns() { date +%s%N; }

coproc SERVER { "$once" --serve; }
trap 'exec {SERVER[1]}>&-; wait' EXIT
# Served: hands a page to the running process and waits for its answer.
serve() {
  echo "$*" >&"${SERVER[1]}"
  local reply; read -r reply <&"${SERVER[0]}"
  [ "$reply" = ok ] || { echo "served page failed: $*" >&2; exit 1; }
}
serve "$img" 4800 3600 /dev/null  # warm: libvips started, code paged in
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
  [ -s "$data" ] || { echo "empty job from: $*" >&2; exit 1; }
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", (b-a)/1e9}') $(stat -c %s "$data")"
}

: > "$work/ours.txt"; : > "$work/served.txt"; : > "$work/lp.txt"
for _ in $(seq "$runs"); do
  timed_job "$once" "$img" 4800 3600 "cups:$queue" >> "$work/ours.txt"
  timed_job serve "$img" 4800 3600 "cups:$queue" >> "$work/served.txt"
  timed_job lp -h "$CUPS_SERVER" -d "$queue" -o fit-to-page "$img" >> "$work/lp.txt"
done
t_ours=$(cut -d' ' -f1 "$work/ours.txt" | median); s_ours=$(cut -d' ' -f2 "$work/ours.txt" | median)
t_served=$(cut -d' ' -f1 "$work/served.txt" | median)
t_lp=$(cut -d' ' -f1 "$work/lp.txt" | median); s_lp=$(cut -d' ' -f2 "$work/lp.txt" | median)
printf '| queue | streamed, new process (s) | streamed, running process (s) | lp -o fit-to-page (s) | ratio, new process | ratio, running | streamed job (KiB) | lp job (KiB) | size ratio |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
printf '| %s | %s | %s | %s | %s | %s | %d | %d | %s |\n' "$queue" "$t_ours" "$t_served" "$t_lp" \
  "$(ratio "$t_ours" "$t_lp")" "$(ratio "$t_served" "$t_lp")" \
  "$((${s_ours%.*} / 1024))" "$((${s_lp%.*} / 1024))" "$(ratio "$s_ours" "$s_lp")"
