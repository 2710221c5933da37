#!/usr/bin/env bash
# The whole loop on the embedded defaults: build, make a fresh demo database
# beside the program, send the demo survey (command 2) and the demo
# strategy's goal notifications (command 1) into the local Outbox, turn some
# of the sent messages into the replies people would write, fetch and store
# them (command 5), and show what was stored. BUILD_DIR picks the build
# folder (default: build).
#
# The Windows build runs the same loop under Wine after scripts/windows.sh:
#   BUILD_DIR=build-windows RUN=build-windows/wine-run EXE=.exe bash scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

run="${RUN:-}"
exe="${EXE:-}"
[ -n "$run" ] || bash scripts/bootstrap.sh >/dev/null
bin="${BUILD_DIR:-build}/bin"
survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
strategy='{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}'
meal_goal='{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}'

# A clean start: database, mail folders, task store, logs and what was mailed.
rm -rf "$bin/Mail" "$bin/Tasks" "$bin/demo.db" "$bin"/LVEmailAccess.{state,lock,log,ledger,pace,sent} "$bin/LV_DB_Log.txt"
sqlite3 "$bin/demo.db" < db/schema.sql
sqlite3 "$bin/demo.db" < db/demo.sql
mkdir -p "$bin/Tasks"
cat > "$bin/Tasks/community-meal.ics" <<ICS
BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Grace Fellowship//Planning//EN
BEGIN:VTODO
UID:community-meal@gracefellowship.example.org
DTSTAMP:20261201T090000Z
SUMMARY:Launch a monthly community meal
DESCRIPTION:Strategy goal $meal_goal
PERCENT-COMPLETE:0
STATUS:NEEDS-ACTION
END:VTODO
END:VCALENDAR
ICS
sed -i 's/$/\r/' "$bin/Tasks/community-meal.ics"

step() { printf '\n== %s\n' "$*"; }
runlog() { tr -d '\r' < "$bin/LvMAPI.log" | sed 's/^/   | /'; }

step "LvMAPI demo.db 2 $survey   (send the survey)"
$run "$bin/LvMAPI$exe" demo.db 2 "$survey" > /dev/null
runlog | grep -E 'Found:|Creating output file|Title:' || true

step "LvMAPI demo.db 1 $strategy   (notify the goals' responsible persons)"
$run "$bin/LvMAPI$exe" demo.db 1 "$strategy" > /dev/null
runlog | grep -E 'Creating output file' || true

step "Outbox: $(ls "$bin/Mail/Outbox/new" | wc -l) messages"
for f in "$bin"/Mail/Outbox/new/*; do
  printf '   %-45s %s\n' "$(grep -m1 '^To:' "$f" | cut -c5-)" "$(grep -m1 '^Subject:' "$f" | cut -c10-)"
done

step "People reply (answers typed between the tags, one HTML-only reply, one out-of-office robot, one reply quoting with '> ', one goal status)"
/usr/bin/python3 scripts/demo_replies.py "$bin/Mail"

step "LvMAPI demo.db 5   (fetch and store the replies)"
$run "$bin/LvMAPI$exe" demo.db 5 > /dev/null
runlog | grep -E 'PROCESS|Number of' || true
$run "$bin/LVEmailAccess$exe" --acknowledge
printf '   Inbox %s, Processed %s, Skipped %s\n' \
  "$(ls "$bin/Mail/Inbox/new" "$bin/Mail/Inbox/cur" | grep -vc ':$\|^$' || true)" \
  "$(ls "$bin/Mail/Processed/cur" "$bin/Mail/Processed/new" 2>/dev/null | grep -vc ':$\|^$' || true)" \
  "$(ls "$bin/Mail/Skipped/cur" "$bin/Mail/Skipped/new" 2>/dev/null | grep -vc ':$\|^$' || true)"

step "Stored survey answers"
sqlite3 -column -header "$bin/demo.db" "
  SELECT r.ReplyEmail AS person, q.SurveyQuestionNumber AS q, s.SurveyQuestionResponse AS answer
  FROM SurveyReply r JOIN SurveyResponse s ON s.ReplyID = r.ReplyID
  JOIN SurveyQuestion q ON q.SurveyQuestionID = s.SurveyQuestionID
  ORDER BY r.ReplyEmail, q.SurveyQuestionNumber;"

step "Stored goal status"
sqlite3 -column -header "$bin/demo.db" "
  SELECT r.ReplyEmail AS person, g.GoalTitle AS goal, s.PercentComplete AS pct, s.Comment AS comment
  FROM StrategyGoalStatusReply r JOIN StrategyGoalStatusResponse s ON s.ReplyID = r.ReplyID
  LEFT JOIN SMARTGoal g ON g.GoalID = s.GoalID;"

step "The goal's task ($bin/Tasks/community-meal.ics)"
tr -d '\r' < "$bin/Tasks/community-meal.ics" | grep -E '^(SUMMARY|DESCRIPTION|PERCENT-COMPLETE|STATUS|SEQUENCE|LAST-MODIFIED|[ \t])'
