#!/usr/bin/env bash
# Checks that every include points down the layers, builds and runs every
# test, then the same tests built with AddressSanitizer
# and UndefinedBehaviorSanitizer (set LVMAPI_SKIP_SANITIZE=1 to skip those),
# then a bounded run of every fuzz target (LVMAPI_SKIP_FUZZ=1 skips it), and
# last the Windows release build and its tests under Wine, as
# `bash scripts/windows.sh --test` does (LVMAPI_WINDOWS_TESTS=0 builds the
# release only; LVMAPI_SKIP_WINDOWS=1 skips both).
set -euo pipefail
cd "$(dirname "$0")/.."

# Every include points down the layers; a list here means one does not.
bash scripts/check_layers.sh
bash scripts/bootstrap.sh

# The Windows libraries take long to build the first time, and the Linux
# tests leave a core idle often enough (servers starting, fuzzers on one
# core): they build meanwhile, at a lower priority, and are waited for at
# the end. Once built they are kept, and this takes seconds.
deps_log=""
if [ "${LVMAPI_SKIP_WINDOWS:-0}" != "1" ]; then
  deps_log=$(mktemp)
  nice -n 10 bash scripts/windows_deps.sh >"$deps_log" 2>&1 &
  deps_pid=$!
fi

ctest --test-dir build --output-on-failure -j "${JOBS:-2}"

if [ "${LVMAPI_SKIP_SANITIZE:-0}" != "1" ]; then
  BUILD_DIR=build-asan bash scripts/bootstrap.sh -DLVMAPI_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "${JOBS:-2}"
fi

if [ "${LVMAPI_SKIP_FUZZ:-0}" != "1" ]; then
  bash scripts/fuzz.sh
fi

if [ -n "$deps_log" ]; then
  if ! wait "$deps_pid"; then
    cat "$deps_log" >&2
    echo "building the Windows libraries failed" >&2
    exit 1
  fi
  rm -f "$deps_log"
  if [ "${LVMAPI_WINDOWS_TESTS:-1}" = "1" ]; then
    bash scripts/windows.sh --test
  else
    bash scripts/windows.sh
  fi
fi
