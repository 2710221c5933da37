#!/usr/bin/env bash
# The installer under Wine, without asking (/S /D=...): each mail choice
# writes its settings and runs LVEmailAccess --check; a folder it cannot
# write fails without an uninstall entry; it installs a folder that runs
# the demo on local folders (/MAIL=maildir); installed again over it, it
# leaves the office's own files (LVEmailAccess.conf, the database, Mail\)
# as they were, and with Tarnbase.dll in use it fails or replaces all; the
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
# even with a space in it; cmd passes the line on as it is written. Further
# parameters (the mail) go before it. The installer's exit status is kept.
install_into() {
  local into=$1
  shift
  set +e
  "$build/wine-run" cmd /c "$(winpath "$setup") /S $* /D=$(winpath "$into")" </dev/null >/dev/null 2>&1
  status=$?
  set -e
}
install() { install_into "$folder" "$@"; [ "$status" = 0 ] || fail "the installer ended with $status"; }
uninstall_entry() {
  "$build/wine-run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\LvMAPI' \
    </dev/null >/dev/null 2>&1
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# Each mail choice of a silent install: a setting it must write, and the
# words of LVEmailAccess --check (kept beside the program) that show the
# settings were read as meant: nobody has signed in or set a password yet.
ms="/MAIL=microsoft365 /ACCOUNT=office@church.example /CLIENTID=0f1e2d3c-aaaa-bbbb-cccc-123456789abc"
ms_imap="/MAIL=microsoft365-smtp+imap /ACCOUNT=office@church.example /CLIENTID=0f1e2d3c-aaaa-bbbb-cccc-123456789abc"
mail_cases=(
  "/MAIL=maildir|transport = maildir|Transport: maildir"
  "/MAIL=outlook|transport = outlook|Transport: outlook"
  "$ms|transport = graph|not signed in yet"
  "$ms /TENANT=church.example|tenant = church.example|not signed in yet"
  "$ms_imap|pace = microsoft365|SMTP smtp://smtp.office365.com:587: not signed in yet"
  "/MAIL=google /ACCOUNT=office@church.example /CLIENTID=1234-abc.apps.googleusercontent.com /CLIENTSECRET=GOCSPX-x|client_secret = GOCSPX-x|IMAP imaps://imap.gmail.com:993/INBOX: not signed in yet"
  "/MAIL=smtp+imap /ACCOUNT=office@church.example /SMTP=mail.church.example:465 /IMAP=mail.church.example:993|url = smtps://mail.church.example:465|has no password"
  "/MAIL=smtp+imap /ACCOUNT=office@church.example /PASSWORD=s3cret! /SMTP=127.0.0.1:1 /IMAP=127.0.0.1:2|password = s3cret!|password of office@church.example from the file"
)
for entry in "${mail_cases[@]}"; do
  IFS='|' read -r args expected said <<<"$entry"
  choice="$work/choice"
  rm -rf "$choice"
  install_into "$choice" "$args"
  [ "$status" = 0 ] || fail "$args: the installer ended with $status"
  grep -qF "$expected" "$choice/LVEmailAccess.conf" || { cat "$choice/LVEmailAccess.conf" >&2; fail "$args: no '$expected'"; }
  [ -e "$choice/LVEmailAccess.check.txt" ] || fail "$args: LVEmailAccess --check was not run"
  grep -qF "$said" "$choice/LVEmailAccess.check.txt" ||
    { cat "$choice/LVEmailAccess.check.txt" >&2; fail "$args: --check did not say '$said'"; }
  printf '%s -> %s; --check: %s\n' "$args" "$(grep -c . "$choice/LVEmailAccess.conf") settings lines" \
    "$(tr -d '\r' < "$choice/LVEmailAccess.check.txt" | grep -m1 -F "$said")"
done
# A choice without what it needs installs nothing and ends with 2.
for args in "/MAIL=smtp+imap /ACCOUNT=office@church.example" "/MAIL=microsoft365 /ACCOUNT=office@church.example" \
  "/MAIL=microsoft365-smtp+imap /ACCOUNT=office@church.example" \
  "/MAIL=google /ACCOUNT=office@church.example /CLIENTID=1234-abc.apps.googleusercontent.com"; do
  rm -rf "$work/choice"
  install_into "$work/choice" "$args"
  [ "$status" = 2 ] || fail "$args: ended with $status, not 2"
  [ ! -e "$work/choice/LvMAPI.exe" ] || fail "$args: installed without what it needs"
done

# A folder this account cannot write (immutable: root writes anywhere
# else): a non-zero status, and no uninstall entry for what is not there.
"$build/wine-run" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\LvMAPI' /f \
  </dev/null >/dev/null 2>&1 || true
locked="$work/locked"
mkdir -p "$locked"
chattr +i "$locked"
install_into "$locked" /MAIL=maildir
chattr -i "$locked"
[ "$status" != 0 ] || fail "installing into an unwritable folder ended with 0"
uninstall_entry && fail "an uninstall entry for a folder where nothing was installed"
[ -z "$(ls -A "$locked")" ] || fail "something was written into the unwritable folder"
echo "unwritable folder: exit $status, no uninstall entry"

install /MAIL=maildir
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

# An update while Tarnbase.dll is in use the whole time: it fails, or
# everything is replaced; never the old library beside a new program.
printf 'old' >> "$folder/LvMAPI.exe"
printf 'old' >> "$folder/Tarnbase.dll"
"$build/wine-run" "$build/tests/hold_file.exe" "$(winpath "$folder/Tarnbase.dll")" 20 </dev/null >"$work/held" 2>&1 &
holder=$!
for _ in $(seq 1 200); do grep -q '^held' "$work/held" 2>/dev/null && break; sleep 0.05; done
grep -q '^held' "$work/held" || fail "could not hold Tarnbase.dll"
install_into "$folder"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
new_exe=$(cmp -s "$folder/LvMAPI.exe" "$build/bin/LvMAPI.exe" && echo new || echo old)
new_dll=$(cmp -s "$folder/Tarnbase.dll" "$build/bin/Tarnbase.dll" && echo new || echo old)
[ "$new_exe" = "$new_dll" ] || fail "a mixed set of versions: LvMAPI.exe $new_exe, Tarnbase.dll $new_dll (exit $status)"
[ "$status" != 0 ] || [ "$new_exe" = new ] || fail "the update ended with 0 but replaced nothing"
echo "update with Tarnbase.dll held: exit $status, LvMAPI.exe and Tarnbase.dll both $new_exe"
install

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
