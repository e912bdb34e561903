#!/usr/bin/env bash
# scripts/check-layers on small trees made here: each case adds one file
# with one include to a tree that passes, and the check must pass or fail
# as the case says, sub-folders included.
set -euo pipefail
check=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowin-layers.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A tree with one header in each folder a rule names.
base=$work/base
for dir in util engine engine/ports os store cups cups/internal page page/source \
  page/resample page/encode page/stream scheduling res ui app; do
  mkdir -p "$base/$dir"
  echo '#pragma once' >"$base/$dir/x.h"
done

failures=0
# file  include  expected
while read -r file include expected; do
  [ -n "$file" ] || continue
  tree=$work/case
  rm -rf "$tree"
  cp -r "$base" "$tree"
  mkdir -p "$tree/$(dirname "$file")"
  printf '#include "%s"\n' "$include" >>"$tree/$file"
  if out=$("$check" "$tree" 2>&1); then got=pass; else got=fail; fi
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $file including $include: expected $expected, got $got: $out"
    failures=$((failures + 1))
  fi
done <<'CASES'
engine/a.cpp            engine/ports/x.h          pass
engine/a.cpp            util/x.h                  pass
engine/a.cpp            os/x.h                    fail
engine/ports/a.h        scheduling/x.h            fail
page/source/a.cpp       page/resample/x.h         pass
page/source/a.cpp       cups/x.h                  fail
page/stream/a.cpp       page/source/x.h           fail
page/resample/a.cpp     engine/x.h                fail
page/a.cpp              page/encode/x.h           pass
cups/a.cpp              page/x.h                  fail
cups/a.cpp              cups/internal/x.h         pass
cups/internal/a.cpp     cups/x.h                  pass
app/a.cpp               cups/internal/x.h         fail
app/a.cpp               page/source/x.h           pass
store/a.cpp             cups/x.h                  fail
os/a.cpp                store/x.h                 fail
ui/a.cpp                os/x.h                    fail
misc/a.cpp              util/x.h                  fail
page/new/deep/a.cpp     cups/x.h                  fail
ui/a.cpp                generated/ui_x.h          pass
CASES

# And the checkout itself.
"$check" >/dev/null || { echo "FAIL: the checkout breaks its own layers"; failures=$((failures + 1)); }
[ "$failures" = 0 ] && echo "check-layers: every case as expected"
exit "$failures"
