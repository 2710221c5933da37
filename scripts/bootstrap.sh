#!/usr/bin/env bash
# Installs what the project needs from Debian (only what is missing), then
# configures and builds. BUILD_DIR picks the build folder (default: build);
# further arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config sqlite3 libsqlite3-dev uuid-dev libgtest-dev
          libgmime-3.0-dev libxml2-dev libical-dev libcurl4-openssl-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build="${BUILD_DIR:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja "$@" >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}"
