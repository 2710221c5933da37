#!/usr/bin/env bash
# Installs what the project needs from Debian (only what is missing), then
# configures and builds. BUILD_DIR picks the build folder (default: build);
# further arguments go to CMake.
#
#   scripts/bootstrap.sh --install PACKAGE...   only installs the packages named
#   (the same careful way; the benchmarks use it for their own tools).
set -euo pipefail
cd "$(dirname "$0")/.."

# The build, the tests, and the real mail servers the mail-access tests start
# on 127.0.0.1 (Dovecot, an aiosmtpd submission server, openssl for their
# certificate). clang and its runtimes build the fuzz targets. todoman, the
# task application the README names, reads back the task files LvMAPI updates.
packages=(cmake ninja-build g++ pkg-config sqlite3 libsqlite3-dev uuid-dev libgtest-dev
          libgmime-3.0-dev libxml2-dev libical-dev libcurl4-openssl-dev nlohmann-json3-dev python3
          openssl dovecot-imapd python3-aiosmtpd
          clang libclang-rt-14-dev todoman)

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  # Debian's mail server packages start their system service when installed;
  # nothing here wants one running (the tests start their own). A temporary
  # policy-rc.d that refuses (exit 101) keeps them stopped; it goes again
  # afterwards, also when the installation fails.
  local policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    trap "$sudo rm -f '$policy'" EXIT
  fi
  # Postfix would ask how to deliver mail; it is used as a load generator only.
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  if [ -n "$(trap -p EXIT)" ]; then
    $sudo rm -f "$policy"
    trap - EXIT
  fi
}

if [ "${1:-}" = "--install" ]; then
  shift
  install_missing "$@"
  exit 0
fi

install_missing "${packages[@]}"

build="${BUILD_DIR:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja "$@" >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}"
