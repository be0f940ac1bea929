#!/usr/bin/env bash
# The one test command: installs what is needed, builds, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}

# Every window-test process starts an Xvfb of its own (with
# ZORVAK_TEST_SHARED_DISPLAY=1 they all use $DISPLAY instead). Make sure such a
# display can be had before anything runs, and make a window test that still
# gets none fail rather than skip: the run passes only when the window tests
# ran.
fail() {
  echo "scripts/test.sh: $*" >&2
  exit 1
}
answers() { ! command -v xdpyinfo >/dev/null || xdpyinfo -display "$1" >/dev/null 2>&1; }

if [ "${ZORVAK_TEST_SHARED_DISPLAY:-}" = 1 ]; then
  [ -n "${DISPLAY:-}" ] || fail "ZORVAK_TEST_SHARED_DISPLAY=1 but DISPLAY is not set"
  answers "$DISPLAY" || fail "the X server $DISPLAY does not answer; the window tests need it"
else
  command -v Xvfb >/dev/null ||
    fail "Xvfb is not on PATH; the window tests start one each (install xvfb: scripts/setup.sh)"
  probe=$(mktemp -d)
  xvfb_pid=""
  trap '[ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$probe"' EXIT
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$probe/number" >"$probe/log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$probe/number" ] || ! kill -0 "$xvfb_pid" 2>/dev/null && break
    sleep 0.1
  done
  number=$(head -n 1 "$probe/number")
  if [ -z "$number" ] || ! answers ":$number"; then
    tail -n 5 "$probe/log" >&2
    fail "Xvfb does not start, so the window tests cannot get a display"
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
fi
WIN_BUILD_DIR="${WIN_BUILD_DIR:-$BUILD_DIR-windows}" scripts/windows-check.sh
BUILD_DIR=$BUILD_DIR scripts/package-test.sh
export ZORVAK_REQUIRE_DISPLAY=1

# The window tests run real windows, a real window manager and a real web
# engine on whatever load the machine has; a test that fails is run once more
# and fails the run only when it fails again (ctest prints both attempts). The
# tests that passed only on their second attempt are named at the end.
(cd "$BUILD_DIR" && ctest --output-on-failure -j "${TEST_JOBS:-2}" --timeout 600 --repeat until-pass:2) \
  2>&1 | tee "$BUILD_DIR/ctest.log"
reruns="main suite: passed only on rerun: $(scripts/ctest-reruns.sh "$BUILD_DIR/ctest.log")"

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer
# (a build folder of its own), then each fuzz target for 30 s from its corpus.
# ZORVAK_QUICK=1 leaves both out, for a quick local run.
if [ "${ZORVAK_QUICK:-}" != 1 ]; then
  SAN_BUILD_DIR=${SAN_BUILD_DIR:-build-sanitize}
  SAN_BUILD_DIR=$SAN_BUILD_DIR scripts/sanitizer-check.sh
  reruns+=$'\n'"sanitized suite: passed only on rerun: $(scripts/ctest-reruns.sh "$SAN_BUILD_DIR/ctest.log")"
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi
echo "$reruns"
