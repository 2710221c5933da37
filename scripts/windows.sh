#!/usr/bin/env bash
# Builds the Windows release on Debian: LvMAPI.exe, Tarnbase.dll and
# LVEmailAccess.exe cross-compiled with MinGW-w64, with every DLL they need,
# in build-windows/bin, then a zip of that folder and an installer beside it.
#
#   bash scripts/windows.sh          the release
#   bash scripts/windows.sh --test   the release, then every test under Wine
#
# The libraries come from Debian's own sources, built once by
# scripts/windows_deps.sh and kept outside this folder.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)

run_tests=0
[ "${1:-}" = "--test" ] && run_tests=1

bash scripts/bootstrap.sh --install cmake ninja-build g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  wine64 nsis zip sqlite3 python3

build="$here/build-windows"
bin="$build/bin"
deps=$(bash scripts/windows_deps.sh | tail -n 1)
[ -d "$deps/bin" ] || { echo "windows.sh: the libraries were not built (no $deps/bin)" >&2; exit 1; }

# Wine runs the tests (and what builds run, such as the tests' listing) in a
# prefix of its own inside the build folder (scripts/wine.sh). No search
# path is added: each program finds its DLLs beside it, as on a real
# Windows, and a test that hides a program is not undone by a copy on the
# path.
mkdir -p "$build"
source scripts/wine.sh
wine_use "$build"
wine_write_runner "$build"
wine_start
trap wine_stop EXIT

# The folder runs as it is on a computer with nothing installed: every DLL
# the programs load lies beside them, and libical's time zones with them.
# The test programs get the same DLLs beside them.
mkdir -p "$bin" "$build/tests"
while read -r dll; do
  if [ ! -e "$bin/$(basename "$dll")" ] || [ "$dll" -nt "$bin/$(basename "$dll")" ]; then
    # The compiler's runtime comes with its symbols, which no one needs.
    x86_64-w64-mingw32-strip --strip-unneeded -o "$bin/$(basename "$dll")" "$dll"
  fi
  cp -u "$bin/$(basename "$dll")" "$build/tests/"
done < <(bash scripts/windows_deps.sh --runtime-dlls)
cp -u emailaccess/LVEmailAccess.conf.example "$bin/"
if [ -d "$deps/share/libical/zoneinfo" ]; then
  mkdir -p "$bin/zoneinfo"
  cp -ru "$deps/share/libical/zoneinfo/." "$bin/zoneinfo/"
fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/scripts/windows/mingw-w64.cmake" -DLVMAPI_WINDOWS_DEPS="$deps" \
    -DLVMAPI_TESTS="$([ $run_tests = 1 ] && echo ON || echo OFF)" \
    >/dev/null
elif [ $run_tests = 1 ]; then
  # A release build made earlier gets its tests added; tests once built stay.
  cmake -S . -B "$build" -DLVMAPI_TESTS=ON >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}"

version=$(sed -n 's/^project(LvMAPI VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
release=(LvMAPI.exe Tarnbase.dll LVEmailAccess.exe LVEmailAccess.conf.example)
while read -r dll; do release+=("$(basename "$dll")"); done < <(bash scripts/windows_deps.sh --runtime-dlls)
[ -d "$bin/zoneinfo" ] && release+=(zoneinfo)
zip_file="$build/LvMAPI-$version-windows-x64.zip"
rm -f "$zip_file"
(cd "$bin" && zip -qr -X "$zip_file" "${release[@]}")
# The installer's lists of what it puts in place and what its uninstaller
# takes away again: the same files, nothing else (release-files.txt, for
# the installer's test).
(cd "$bin" && find "${release[@]}" -type f | LC_ALL=C sort) > "$build/release-files.txt"
: > "$build/install-files.nsh"
: > "$build/uninstall-files.nsh"
: > "$build/check-files.nsh"
while read -r f; do
  printf '!insertmacro WaitUntilReplaceable "$INSTDIR\\%s"\n' "${f//\//\\}" >> "$build/check-files.nsh"
  dir=$(dirname "$f")
  [ "$dir" = . ] && out='$INSTDIR' || out="\$INSTDIR\\${dir//\//\\}"
  printf 'SetOutPath "%s"\nFile "/oname=%s" "%s"\n' "$out" "$(basename "$f")" "$bin/$f" >> "$build/install-files.nsh"
  printf 'Delete "$INSTDIR\\%s"\n' "${f//\//\\}" >> "$build/uninstall-files.nsh"
done < "$build/release-files.txt"
(cd "$bin" && find "${release[@]}" -type d | LC_ALL=C sort -r) | while read -r d; do
  printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}" >> "$build/uninstall-files.nsh"
done
makensis -V2 -DVERSION="$version" -DFILES_DIR="$build" -DOUTFILE="$build/LvMAPI-$version-setup.exe" \
  scripts/windows-installer.nsi >/dev/null
echo "Windows release: $zip_file"
echo "Installer:       $build/LvMAPI-$version-setup.exe"

[ $run_tests = 1 ] || exit 0
bash scripts/windows_tests.sh "$build"
