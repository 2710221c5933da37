#!/usr/bin/env bash
# Checks that every include points down the layers, builds and runs every
# test, then the same tests built with AddressSanitizer
# and UndefinedBehaviorSanitizer (set LVMAPI_SKIP_SANITIZE=1 to skip those),
# and last a bounded run of every fuzz target (LVMAPI_SKIP_FUZZ=1 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."

# Every include points down the layers; a list here means one does not.
bash scripts/check_layers.sh
bash scripts/bootstrap.sh
ctest --test-dir build --output-on-failure -j "${JOBS:-2}"

if [ "${LVMAPI_SKIP_SANITIZE:-0}" != "1" ]; then
  BUILD_DIR=build-asan bash scripts/bootstrap.sh -DLVMAPI_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "${JOBS:-2}"
fi

if [ "${LVMAPI_SKIP_FUZZ:-0}" != "1" ]; then
  bash scripts/fuzz.sh
fi
