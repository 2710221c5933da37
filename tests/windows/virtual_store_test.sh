#!/usr/bin/env bash
# LvMAPI installed where Windows virtualizes an older program's files: in
# Program Files, a folder this account cannot write (made immutable here,
# since root writes anywhere). Its files are then read and written in the
# account's VirtualStore copy of the folder, and the folder stays untouched:
# with a VirtualStore tree holding a newer database, command 4 stores there;
# without one, the database is copied there on its first write.
#
#   bash tests/windows/virtual_store_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/support/program_files.sh "$1" "Church App"
survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'

mkdir -p "$folder"
install_release
sqlite3 "$folder/demo.db" < db/schema.sql
sqlite3 "$folder/demo.db" < db/demo.sql
# Without a settings file Windows would use Outlook or refuse; this
# check is of the Maildir.
printf '[general]\ntransport = maildir\n' > "$folder/LVEmailAccess.conf"
chattr +i "$folder"
touch "$folder/probe" 2>/dev/null && fail "the folder is still writable"
before=$(cd "$folder" && find . -type f -exec sha256sum {} + | LC_ALL=C sort)
rows() { sqlite3 "$1" "SELECT COUNT(*) FROM SurveyResponse"; }

# 1. A VirtualStore tree with a newer database (marked by its user version,
# which the folder's copy does not have): the whole loop works on it.
mkdir -p "$store"
cp "$folder/demo.db" "$store/demo.db"
newer=$(sqlite3 "$store/demo.db" "PRAGMA user_version = 7; PRAGMA user_version")
"$run" "$folder/LvMAPI.exe" demo.db 2 "$survey" </dev/null >/dev/null || fail "command 2 ended with $?"
sent=$(ls "$store/Mail/Outbox/new" | wc -l)
[ "$sent" -gt 0 ] || fail "command 2 sent nothing into the VirtualStore's Mail"
/usr/bin/python3 scripts/demo_replies.py "$store/Mail" >/dev/null
"$run" "$folder/LvMAPI.exe" demo.db 4 </dev/null >/dev/null || fail "command 4 ended with $?"
stored=$(rows "$store/demo.db")
[ "$stored" -gt 0 ] || fail "command 4 stored nothing in the VirtualStore's database"
[ "$(sqlite3 "$store/demo.db" "PRAGMA user_version")" = "$newer" ] || fail "the VirtualStore's database was replaced"
grep -q "its files are read and written in " "$store/LvMAPI.log" || fail "the run log does not name the folder used"
[ "$(grep -c "its files are read and written in " "$store/LvMAPI.log")" = 1 ] || fail "the folder is named more than once"
[ -f "$store/LVEmailAccess.log" ] || fail "the mail-access program's log is not in the VirtualStore"
[ "$(cd "$folder" && find . -type f -exec sha256sum {} + | LC_ALL=C sort)" = "$before" ] || fail "the folder changed"
[ "$(rows "$folder/demo.db")" = 0 ] || fail "the folder's database got answers"
echo "VirtualStore with a newer database: $sent sent, $stored answers stored in $store/demo.db, the folder untouched"

# 2. No VirtualStore tree yet: the folder's database is copied there on the
# first run, and only the copy changes.
rm -rf "$store"
"$run" "$folder/LvMAPI.exe" demo.db 2 "$survey" </dev/null >/dev/null || fail "command 2 ended with $?"
[ -f "$store/demo.db" ] || fail "the database was not copied into the VirtualStore"
[ -f "$store/LvMAPI.log" ] || fail "no run log in the VirtualStore"
/usr/bin/python3 scripts/demo_replies.py "$store/Mail" >/dev/null
"$run" "$folder/LvMAPI.exe" demo.db 4 </dev/null >/dev/null || fail "command 4 ended with $?"
[ "$(rows "$store/demo.db")" -gt 0 ] || fail "nothing stored in the copied database"
[ "$(cd "$folder" && find . -type f -exec sha256sum {} + | LC_ALL=C sort)" = "$before" ] || fail "the folder changed"
echo "VirtualStore made on first use: database copied, $(rows "$store/demo.db") answers stored there, the folder untouched"
