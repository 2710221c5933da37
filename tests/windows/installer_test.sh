#!/usr/bin/env bash
# The installer under Wine, without asking (/S /D=...): it installs a folder
# that runs the demo; installed again over it, it leaves the office's own
# files (LVEmailAccess.conf, the database, Mail\) as they were; and the
# uninstaller takes away exactly what was installed and leaves those.
#
#   bash tests/windows/installer_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
setup=$(ls "$build"/LvMAPI-*-setup.exe)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder="$work/Church App"
winpath() { printf 'Z:%s' "$1" | sed 's#/#\\#g'; }
# NSIS takes the folder after /D= as the rest of its command line, unquoted
# even with a space in it; cmd passes the line on as it is written.
install() { "$build/wine-run" cmd /c "$(winpath "$setup") /S /D=$(winpath "$folder")" </dev/null >/dev/null 2>&1; }

fail() { echo "FAIL: $*" >&2; exit 1; }

install
while read -r f; do
  [ -e "$folder/$f" ] || fail "the installer left out $f"
done < "$build/release-files.txt"
[ -e "$folder/Uninstall LvMAPI.exe" ] || fail "no uninstaller"

# The demo's loop in the installed folder (the database and task made there).
sqlite3 "$folder/demo.db" < db/schema.sql
sqlite3 "$folder/demo.db" < db/demo.sql
"$build/wine-run" "$folder/LvMAPI.exe" demo.db 2 '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}' </dev/null >/dev/null
sent=$(ls "$folder/Mail/Outbox/new" | wc -l)
[ "$sent" -gt 0 ] || fail "the installed LvMAPI.exe sent nothing"
grep -q "Creating output file" "$folder/LvMAPI.log" || fail "no run log beside the installed program"

# The office's own files, then the same installer again, as an update.
printf '[general]\nsender = Office <office@example.org>\n' > "$folder/LVEmailAccess.conf"
before=$(cd "$folder" && sha256sum LVEmailAccess.conf demo.db Mail/Outbox/new/*)
install
[ "$(cd "$folder" && sha256sum LVEmailAccess.conf demo.db Mail/Outbox/new/*)" = "$before" ] ||
  fail "installing again changed the office's own files"

# The uninstaller copies itself away and returns at once; it is done when
# it has taken itself away too.
"$build/wine-run" "$folder/Uninstall LvMAPI.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 1 600); do [ -e "$folder/Uninstall LvMAPI.exe" ] || break; sleep 0.1; done
[ ! -e "$folder/Uninstall LvMAPI.exe" ] || fail "the uninstaller did not finish"
while read -r f; do
  [ ! -e "$folder/$f" ] || fail "the uninstaller left $f"
done < "$build/release-files.txt"
[ "$(cd "$folder" && sha256sum LVEmailAccess.conf demo.db Mail/Outbox/new/*)" = "$before" ] ||
  fail "the uninstaller touched the office's own files"
left=$(cd "$folder" && find . -type f | LC_ALL=C sort | tr '\n' ' ')
echo "installer: $(wc -l < "$build/release-files.txt") entries installed, the demo sent $sent messages, an update and the uninstaller left the office's files alone (left: $left)"
