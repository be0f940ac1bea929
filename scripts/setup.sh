#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test and run.
# Idempotent and without prompts; run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git dpkg-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6webenginecore6-bin
  libmpv-dev libcurl4-openssl-dev libsqlite3-dev libxml2-dev
  libwmf-dev libemf2svg-dev qt6-svg-dev
  libxml2-utils sqlite3 valgrind
  libgtest-dev libgmock-dev googletest
  libx11-dev libxfixes-dev libxext-dev
  xvfb xauth x11-utils fonts-wqy-zenhei iproute2 openbox matchbox-window-manager
  ffmpeg curl ca-certificates
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows cross build and its checker under Wine (scripts/windows-check.sh),
# with the Chinese locale under which Wine takes code page 936 and passes
# Chinese file names through. Not fatal: without them the Windows check says
# that it is skipped.
windows_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64 locales)
missing=()
for p in "${windows_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    ($SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}") ||
    echo "setup: the Windows cross build packages could not be installed (${missing[*]})" >&2
fi
if command -v localedef >/dev/null && ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  $SUDO localedef -i zh_CN -c -f UTF-8 zh_CN.UTF-8 ||
    echo "setup: the locale zh_CN.UTF-8 could not be made" >&2
fi
