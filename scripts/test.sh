#!/usr/bin/env bash
# The one test command: installs what is needed, builds, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}

# Window tests need an X display: use a private virtual one unless asked not to.
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${ZORVAK_TEST_USE_DISPLAY:-}" ]; then
  for n in $(seq 91 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    break
  done
fi
WIN_BUILD_DIR="${WIN_BUILD_DIR:-$BUILD_DIR-windows}" scripts/windows-check.sh
cd "$BUILD_DIR"
ctest --output-on-failure -j "${TEST_JOBS:-2}" --timeout 600
