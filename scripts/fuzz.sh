#!/usr/bin/env bash
# Fuzzes the code that reads what comes from outside (the playlist document
# and its import, the settings file, cookies, answer heads) with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, each target for SECONDS
# (default 30).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      e.g. scripts/fuzz.sh 900 cookie
#
# Targets: playlist_document settings cookie http_head. Each starts from its
# seed corpus (tests/fuzz/corpus/TARGET, read only) plus what earlier runs of
# this build folder found ($FUZZ_BUILD_DIR/corpus/TARGET). A crash or hang
# stops the script with an error; the input is left as
# $FUZZ_BUILD_DIR/artifacts/TARGET/crash-* (or timeout-*): copy it into
# tests/fuzz/corpus/TARGET/ once fixed, so that the normal test build replays it
# from then on. Prints each target's executions per second and total.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=(playlist_document settings cookie http_head)
FUZZ_BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZORVAK_FUZZ=ON -DZORVAK_BUILD_TESTS=OFF -DZORVAK_BUILD_BENCH=OFF >/dev/null
cmake --build "$FUZZ_BUILD_DIR" -j "${JOBS:-$(nproc)}" --target "${TARGETS[@]/#/fuzz-}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in "${TARGETS[@]}"; do
  corpus="$FUZZ_BUILD_DIR/corpus/$target"
  artifacts="$FUZZ_BUILD_DIR/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  log="$FUZZ_BUILD_DIR/$target.log"
  echo "fuzzing $target for ${SECONDS_EACH}s"
  if ! "$FUZZ_BUILD_DIR/tests/fuzz/fuzz-$target" -max_total_time="$SECONDS_EACH" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz.sh: $target found a fault; the input is in $artifacts/" >&2
    exit 1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  echo "  $target: ${execs:-?} executions, ${rate:-?} per second, no findings"
done
