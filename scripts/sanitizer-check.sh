#!/usr/bin/env bash
# Builds the test programs (the target zorvak_test_programs: every program
# ctest runs and what its tests start, no benchmark, demo tool, icon or package
# part) with AddressSanitizer and UndefinedBehaviorSanitizer in a build folder
# of its own and runs the whole test suite under them: a memory error, an
# undefined behaviour or a leak in our code fails the run. Leaks and reports
# inside third-party libraries we cannot change are suppressed in
# tests/sanitizers/ (each entry says why). A test that fails is run once more;
# the last line names the tests that passed only then (scripts/ctest-reruns.sh,
# from the log $SAN_BUILD_DIR/ctest.log).
#   SAN_BUILD_DIR  build folder (default build-sanitize)
#   JOBS           parallel compile jobs (default: the number of cores)
#   TEST_JOBS      parallel tests (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
SAN_BUILD_DIR=${SAN_BUILD_DIR:-build-sanitize}
here=$(pwd)

# -O1 keeps the build and the run quick, and -g1 (function names and line
# tables, no types or variables) is what the sanitizers' reports print: both
# cost far less to compile and link than full debug information.
cmake -S . -B "$SAN_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" \
  -DZORVAK_SANITIZE=ON -DZORVAK_BUILD_BENCH=OFF >/dev/null
cmake --build "$SAN_BUILD_DIR" -j "${JOBS:-$(nproc)}" --target zorvak_test_programs

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:$(grep -v -e '^#' -e '^$' tests/sanitizers/asan.options | tr '\n' ':')"
export LSAN_OPTIONS="suppressions=$here/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$here/tests/sanitizers/ubsan.supp"
cd "$SAN_BUILD_DIR"
# The switch tests of web pages measure what the screen shows within
# milliseconds of a page's first frame; at the sanitizers' speed the web view
# paints later than the frame it reports, so they run in the normal suite only.
ctest --output-on-failure -j "${TEST_JOBS:-2}" --timeout 900 --repeat until-pass:2 \
  -E 'ItemSwitch\..*/Page' 2>&1 | tee ctest.log
echo "sanitized suite: passed only on rerun: $("$here/scripts/ctest-reruns.sh" ctest.log)"

