#!/usr/bin/env bash
# Names the tests of a ctest log, from a run with --repeat until-pass:N, that
# failed (failure, time-out, crash) and then passed on a later attempt,
# separated by blanks, in the order of their first failure; "none" when there
# is none. A test that never passed is not named: it failed the run, and ctest
# lists it.
#
#   scripts/ctest-reruns.sh LOG
set -euo pipefail
awk '
  /Test +#[0-9]+: / {
    name = $0
    sub(/.*Test +#[0-9]+: /, "", name)
    sub(/ .*/, "", name)
    if ($0 ~ / Passed +[0-9.]+ sec/) {
      passed[name] = 1
    } else if ($0 ~ /\*\*\*/) {
      if (!(name in failed)) order[++n] = name
      failed[name] = 1
    }
  }
  END {
    out = ""
    for (i = 1; i <= n; i++) if (order[i] in passed) out = out (out == "" ? "" : " ") order[i]
    print (out == "" ? "none" : out)
  }' "$1"
