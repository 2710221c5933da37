#!/usr/bin/env bash
# LvMAPI freshly installed under Program Files, in a folder nothing can be
# written in (made immutable here, files and all, since root writes
# anywhere; the database also marked read-only), with nothing in the
# account's VirtualStore yet, run in the order an office runs it: the survey
# is sent (2), the replies come in and are stored (4), then all replies
# (5), then the goals are sent (1) and their status replies stored (5);
# then a database kept in a subfolder of the program's folder.
# Every command must end with 0, everything written (the database, the
# task folder, the mail folders) must be the VirtualStore's copy, and the
# program's folder must stay as it was.
#
#   bash tests/windows/virtual_store_office_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/support/program_files.sh "$1" "Church Office"
survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
strategy='{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}'

mkdir -p "$folder/Tasks" "$folder/Mail/Processed/cur" "$folder/Data"
install_release
sqlite3 "$folder/demo.db" < db/schema.sql
sqlite3 "$folder/demo.db" < db/demo.sql
cp "$folder/demo.db" "$folder/Data/demo.db"
printf '[general]\ntransport = maildir\n' > "$folder/LVEmailAccess.conf"
# The goal's task, and a reply filed while the folder could still be written.
printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VTODO\r\nUID:meal@example.org\r\nDTSTAMP:20261201T090000Z\r\nSUMMARY:Launch a monthly community meal\r\nDESCRIPTION:Strategy goal {F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}\r\nPERCENT-COMPLETE:0\r\nSTATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n' \
  > "$folder/Tasks/community-meal.ics"
printf 'Subject: an earlier reply\r\n\r\nfiled\r\n' > "$folder/Mail/Processed/cur/1700000000.1.host:2,S"
chmod a-w "$folder/demo.db" "$folder/Data/demo.db"
chattr -R +i "$folder"
touch "$folder/probe" 2>/dev/null && fail "the folder is still writable"
before=$(cd "$folder" && find . -type f -exec sha256sum {} + | LC_ALL=C sort)
[ ! -e "$store" ] || fail "the VirtualStore folder is there before the first run"

database=demo.db
lvmapi() {
  local status=0
  "$run" "$folder/LvMAPI.exe" "$database" "$@" </dev/null >/dev/null 2>&1 || status=$?
  [ "$status" = 0 ] || fail "command $1 ended with $status: $(tr -d '\r' < "$store/LvMAPI.log" 2>/dev/null | tail -3)"
}
count() { sqlite3 "$store/demo.db" "SELECT COUNT(*) FROM $1"; }

lvmapi 2 "$survey"
[ -f "$store/demo.db" ] || fail "the database was not copied into the VirtualStore"
[ "$(grep -c "The database was copied there from the program's folder: " "$store/LvMAPI.log")" = 1 ] ||
  fail "the run log does not say once that the database was copied"
[ -n "$(find "$store/demo.db" -perm -u+w)" ] || fail "the VirtualStore's database kept the read-only mark"
[ -f "$store/Mail/Processed/cur/1700000000.1.host:2,S" ] || fail "the mail folders were not copied"
/usr/bin/python3 scripts/demo_replies.py "$store/Mail" >/dev/null
lvmapi 4
answers=$(count SurveyResponse)
[ "$answers" -gt 0 ] || fail "command 4 stored no answer in the VirtualStore's database"
lvmapi 5
! grep -q "The database was copied there" "$store/LvMAPI.log" || fail "the database was copied again"
# Only the goals' messages are answered next.
rm -f "$store/Mail/Outbox/new/"*
lvmapi 1 "$strategy"
/usr/bin/python3 scripts/demo_replies.py "$store/Mail" >/dev/null
lvmapi 5
goals=$(count StrategyGoalStatusResponse)
[ "$goals" -gt 0 ] || fail "command 5 stored no goal status in the VirtualStore's database"
[ "$(count SurveyResponse)" = "$answers" ] || fail "the answers changed after command 4"
grep -q '^PERCENT-COMPLETE:40' <(tr -d '\r' < "$store/Tasks/community-meal.ics") ||
  fail "the VirtualStore's task was not updated"
database='Data\demo.db'
lvmapi 4
[ -f "$store/Data/demo.db" ] || fail "the database in a subfolder was not copied into the VirtualStore"
[ "$(cd "$folder" && find . -type f -exec sha256sum {} + | LC_ALL=C sort)" = "$before" ] || fail "the program's folder changed"
echo "VirtualStore in an office's order (2, 4, 5, 1, 5): every command 0, $answers answers and $goals goal status stored in $store/demo.db, the task updated there, the program's folder untouched"
