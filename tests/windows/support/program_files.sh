# Sourced by the Windows checks that install LvMAPI under Program Files:
#   source tests/windows/support/program_files.sh BUILD_WINDOWS "Folder name"
# sets `build`, `run` (the build's wine-run), `prefix`, `folder` (the new
# installation folder under Program Files) and `store` (the account's
# VirtualStore copy of it, where Windows puts what the programs write
# there), defines `fail` and `install_release`, and removes both folders
# again when the check ends. The folder's name carries the shell's process
# id, so checks running side by side never share one.
build=$(cd "$1" && pwd)
run="$build/wine-run"
prefix="$build/wineprefix"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Wine's own names: C: is the prefix's drive_c.
unix_of() { printf '%s' "$1" | tr -d '\r' | sed -e 's#\\#/#g' -e "s#^[Cc]:#$prefix/drive_c#"; }
local_app=$(unix_of "$("$run" cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null)")
program_files=$(unix_of "$("$run" cmd /c echo %ProgramFiles% </dev/null 2>/dev/null)")
[ -d "$program_files" ] || fail "no Program Files folder in the prefix ($program_files)"
folder="$program_files/$2 $$"
store="$local_app/VirtualStore/${program_files#"$prefix/drive_c/"}/$2 $$"
cleanup() { chattr -R -i "$folder" 2>/dev/null || true; rm -rf "$folder" "$store"; }
trap cleanup EXIT

# The release's files, as the installer puts them into the folder.
install_release() {
  mkdir -p "$folder"
  while read -r f; do mkdir -p "$folder/$(dirname "$f")"; cp "$build/bin/$f" "$folder/$f"; done < "$build/release-files.txt"
}
