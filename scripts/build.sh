#!/usr/bin/env bash
# Configures and builds into ./build (or $BUILD_DIR): everything, or only the
# targets named in BUILD_TARGETS (separated by blanks).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@"
targets=()
[ -z "${BUILD_TARGETS:-}" ] || read -r -a targets <<<"$BUILD_TARGETS"
if ((${#targets[@]})); then
  cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}" --target "${targets[@]}"
else
  cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}"
fi
