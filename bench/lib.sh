# Shared by the comparison scripts: where the programs are, and how figures
# are summarised. Sourced, not run.
set -euo pipefail
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_build=${TALLOWIN_BENCH_BUILD:-$bench_root/build/bench}
work=${TALLOWIN_BENCH_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/tallowin-bench.XXXXXX")}

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
