#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test and run.
# Idempotent and without prompts; run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6webenginecore6-bin
  libmpv-dev libcurl4-openssl-dev libsqlite3-dev libxml2-dev
  libgtest-dev libgmock-dev googletest
  libx11-dev libxfixes-dev
  xvfb xauth x11-utils fonts-wqy-zenhei iproute2
  ffmpeg curl ca-certificates
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
