#!/usr/bin/env bash
# The Windows build's tests under Wine, after scripts/windows.sh has built it
# (scripts/windows.sh --test runs this): every test suite through CTest, then
# the checks of the programs as a whole in tests/windows/.
#
#   bash scripts/windows_tests.sh BUILD_FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(cd "$1" && pwd)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="$build/bin"

# A machine that cannot run Windows programs is told so, never passed.
if ! "$build/wine-run" cmd /c exit 0 </dev/null >/dev/null 2>&1; then
  echo "windows_tests.sh: Wine cannot run Windows programs on this machine (see $build/wine-run)" >&2
  exit 1
fi

# The tests run with Wine's server already up, so no test waits for it.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT

ctest --test-dir "$build" --output-on-failure -j "${JOBS:-2}"

for check in tests/windows/*.sh; do
  echo "== $check"
  bash "$check" "$build"
done
