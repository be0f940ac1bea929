#!/usr/bin/env bash
# Builds core/, platform/ and system/ for 64-bit Windows with MinGW-w64 and runs
# the Windows checker (tests/windows/) under Wine, in a Wine prefix of its own
# that is thrown away afterwards: once whole, from a folder with a Chinese name
# under the Chinese locale (code page 936), and once more its long time format
# group under Wine's default locale (English, 12-hour clock). See
# docs/windows.md. Skipped, with a message, when scripts/setup.sh could not
# install the cross compiler, Wine or the Chinese locale.
#   WIN_BUILD_DIR  build folder (default build-windows)
#   JOBS           parallel compile jobs (default: the number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
WIN_BUILD_DIR=${WIN_BUILD_DIR:-build-windows}

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres wine wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "windows-check: SKIPPED: $tool is missing (scripts/setup.sh installs it)"
    exit 0
  fi
done
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "windows-check: SKIPPED: the locale zh_CN.UTF-8 is missing (scripts/setup.sh makes it)"
  exit 0
fi

cmake --no-warn-unused-cli -S . -B "$WIN_BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DZORVAK_WINDOWS_BASE_ONLY=ON \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$WIN_BUILD_DIR" -j "${JOBS:-$(nproc)}"

prefix=$(mktemp -d)
run=$(mktemp -d)
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix" "$run"
}
trap cleanup EXIT

folder="$run/广告 检查"
mkdir -p "$folder"
cp "$WIN_BUILD_DIR/tests/windows/zorvak-windows-check.exe" "$folder/"

# Runs the checker in the prefix: no display (nothing is shown), no Mono or
# Gecko installer, the given locale. Prints its output, answers its last line.
check() {
  local locale=$1
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u LANG -u LANGUAGE WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL="$locale" \
    wine "$folder/zorvak-windows-check.exe" "$@" 2> >(grep -v -e 'syswow64' -e 'has been updated' >&2) |
    tee "$run/output" >&2 || true
  tail -n 1 "$run/output"
}

echo "windows-check: $(WINEDEBUG=-all wine --version), code page 936" >&2
chinese=$(check zh_CN.UTF-8)
echo "windows-check: the long time format under Wine's default locale" >&2
default=$(check C.UTF-8 TimeFormat)

read -r p1 _ f1 _ <<<"$chinese"
read -r p2 _ f2 _ <<<"$default"
if ! [[ "$p1$f1$p2$f2" =~ ^[0-9]+$ ]]; then
  echo "windows-check: the checker did not finish (\"$chinese\", \"$default\")" >&2
  exit 1
fi
echo "windows-check: $((p1 + p2)) passed, $((f1 + f2)) failed"
[ $((f1 + f2)) -eq 0 ]
