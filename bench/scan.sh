#!/usr/bin/env bash
# One scan of folders of 1,000, 10,000 and 100,000 files, beside
# `find DIR -maxdepth 1 -type f -printf '%s\n'` on the same folder, timed in
# the same run with hyperfine. Target: at most 1.5 x find.
source "$(dirname "$0")/lib.sh"
scan=$bench_build/bench/tallowin-scan-once

printf '| files | tallowin scan (ms) | find (ms) | ratio |\n|---:|---:|---:|---:|\n'
for n in 1000 10000 100000; do
  dir=$work/scan-$n
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    python3 - "$dir" "$n" <<'PY'
import os, sys
d, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    with open(os.path.join(d, "IMG_%06d.jpg" % i), "wb") as f:
        f.write(b"x" * (i % 97))
PY
  fi
  json=$work/scan-$n.json
  hyperfine -N --warmup 3 --min-runs 15 --export-json "$json" \
    "$scan $dir" "find $dir -maxdepth 1 -type f -printf '%s\n'" >/dev/null 2>&1
  ours=$(hf_median "$json" 0); base=$(hf_median "$json" 1)
  printf '| %s | %.1f | %.1f | %s |\n' "$n" "$(awk -v s="$ours" 'BEGIN{print s*1000}')" \
    "$(awk -v s="$base" 'BEGIN{print s*1000}')" "$(ratio "$ours" "$base")"
done
