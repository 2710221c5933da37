#!/usr/bin/env bash
# The goal status loop with the Windows programs under Wine and the Outlook
# double registered as Outlook: command 1 sends the demo strategy's goal
# notifications into the Maildir, the community meal's person replies, and
# command 5 stores the status and updates the goal's task in the double's
# Tasks folder, since no Tasks folder lies beside the program. Prints the
# stored row, the task's body and the calls Outlook saw. Then the same with
# the mail through Outlook too (see below), with the message counts of the
# double's folders.
#
#   bash tests/windows/outlook_loop_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
win=$(cd "$1" && pwd)
run="$win/wine-run"
dll="$win/tests/outlook_double.dll"
[ -f "$dll" ] || { echo "FAIL: no $dll (the tests were not built)" >&2; exit 1; }
source scripts/wine.sh
wine_use "$win"

out=$(mktemp -d)
bin="$out/bin"
mkdir -p "$bin"
cp "$win"/bin/*.exe "$win"/bin/*.dll "$bin/"
cp -r "$win/bin/zoneinfo" "$bin/" 2>/dev/null || true
sqlite3 "$bin/demo.db" < db/schema.sql
sqlite3 "$bin/demo.db" < db/demo.sql
# The mail through the Maildir first: without a settings file the double,
# registered as Outlook, would carry it.
printf '[general]\ntransport = maildir\n' > "$bin/LVEmailAccess.conf"
strategy='{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}'
meal_goal='{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}'

# Wine's services keep every pipe they inherit: each Wine program here runs
# with its streams away from the caller's.
wine_quiet() { "$run" "$@" </dev/null >/dev/null 2>&1; }
# A Linux path as Wine's drive Z: names it.
windows_path() { printf 'Z:%s' "$1" | sed 's#/#\\#g'; }
wine_start

# Registered for the user, as the tests do, and for the machine, since
# Wine's classes root shows only the machine's classes.
clsid=$(sed -n 's/.*kOutlookDoubleClassId\[\] = L"\(.*\)";/\1/p' tests/support/outlook_double/outlook_double.h)
roots=('HKCU\Software\Classes' 'HKLM\Software\Classes')
unregister() {
  for root in "${roots[@]}"; do
    wine_quiet reg delete "$root\\Outlook.Application" /f || true
    wine_quiet reg delete "$root\\CLSID\\$clsid" /f || true
  done
}
trap 'unregister; rm -rf "$out"' EXIT
for root in "${roots[@]}"; do
  wine_quiet reg add "$root\\Outlook.Application\\CLSID" /ve /d "$clsid" /f
  wine_quiet reg add "$root\\CLSID\\$clsid\\InprocServer32" /ve /d "$(windows_path "$dll")" /f
  wine_quiet reg add "$root\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel /d Apartment /f
done

task="Launch a monthly community meal"$'\r\n'"Strategy goal $meal_goal"
python3 -c 'import json, sys; json.dump({"tasks": [{"body": sys.argv[2], "percent": 0}]}, open(sys.argv[1], "w"))' \
  "$out/outlook.json" "$task"
export LVMAPI_OUTLOOK_DOUBLE_STATE
LVMAPI_OUTLOOK_DOUBLE_STATE=$(windows_path "$out/outlook.json")

wine_quiet "$bin/LvMAPI.exe" demo.db 1 "$strategy"
python3 scripts/demo_replies.py "$bin/Mail" >/dev/null
wine_quiet "$bin/LvMAPI.exe" demo.db 5

row=$(sqlite3 -separator ' | ' "$bin/demo.db" \
  "SELECT PercentComplete, Comment FROM StrategyGoalStatusResponse WHERE GoalID = '$meal_goal'")
echo "stored: $row"
python3 - "$out/outlook.json" "$row" <<'PY'
import json, sys
state = json.load(open(sys.argv[1], encoding="utf-8"))
percent, comment = sys.argv[2].split(" | ", 1)
task = state["tasks"][0]
print("task body:\n  " + task["body"].replace("\r\n", "\n  "))
for call in state.get("calls", []):
    args = " ".join("%s:%s" % (a["type"], a["value"]) for a in call.get("args", []))
    print("  call: %s %s %s %s" % (call["object"], call["kind"], call.get("member", ""), args.replace("\r\n", "\\r\\n")))
failures = []
if task.get("saves") != 1 or task["percent"] != int(percent):
    failures.append("the task was not saved once with %s%%" % percent)
if ("\r\nPercentage complete updated to %s\r\nUpdate processed on " % percent) not in task["body"]:
    failures.append("the status update is not in the task's body")
if not task["body"].endswith(": " + comment):
    failures.append("the comment is not at the body's end as typed")
if any(o["addRefs"] != o["releases"] for o in state.get("objects", [])):
    failures.append("an object Outlook handed out was not given back")
for failure in failures:
    print("FAIL: " + failure, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
echo "Outlook loop under Wine: the goal's task in the double updated and saved, every object given back"

# The same loop with the mail itself through Outlook (transport = outlook):
# command 1 sends the goal notifications, the replies arrive in the double's
# Inbox (with a delivery report among them), command 5 stores the status and
# updates the task; command 2 sends the survey, command 4 stores its answers,
# and a second command 4 files the consumed replies in "Processed".
survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
sqlite3 "$bin/demo.db" "DELETE FROM StrategyGoalStatusResponse; DELETE FROM StrategyGoalStatusReply;" 2>/dev/null || true
rm -rf "$bin/Mail" "$bin"/LVEmailAccess.*state "$bin"/LVEmailAccess.{ledger,pace,sent}
printf '[general]\ntransport = outlook\n' > "$bin/LVEmailAccess.conf"
python3 -c 'import json, sys; json.dump({"tasks": [{"body": sys.argv[2], "percent": 0}]}, open(sys.argv[1], "w"))' \
  "$out/outlook.json" "$task"
# Replies to what Sent Items holds since `first` (0 on), into the Inbox, as
# people and one robot would send them.
answer_sent() {
  python3 - "$out/outlook.json" "$1" <<'PY'
import json, sys
path, first = sys.argv[1], int(sys.argv[2])
state = json.load(open(path, encoding="utf-8"))
inbox = state["folders"]["Inbox"]
when = 46083.4  # 2026-03-02 09:36 local
for n, sent in enumerate(state["folders"]["Sent Items"][first:], start=len(inbox) + 1):
    body, subject = sent["body"], sent["subject"]
    if subject.startswith("Corvane Strategy") and "community meal" in subject:
        body = body.replace("<Status> </Status>", "<Status> 40 </Status>").replace(
            "<Comment> </Comment>", "<Comment> Menu agreed; the first meal is booked. Couldn't be happier! </Comment>")
    elif subject.startswith("Corvane Survey"):
        for k, v in {1: "true", 2: "yes", 3: "9", 5: "6", 6: "b"}.items():
            body = body.replace("<answer%d>  </answer%d>" % (k, k), "<answer%d>%s</answer%d>" % (k, v, k))
    else:
        continue
    inbox.append({"entryId": "reply-%d" % n, "sender": sent["to"], "subject": "RE: " + subject,
                  "body": "Thank you!\r\n\r\n" + body, "received": when + n / 1440.0})
    if len(inbox) == 1:
        inbox.append({"entryId": "report-%d" % n, "sender": "postmaster@example.org", "body": "gone",
                      "subject": "Undeliverable: " + subject, "messageClass": "REPORT.IPM.Note.NDR", "received": when})
json.dump(state, open(path, "w", encoding="utf-8"))
PY
}
counts() {
  python3 - "$out/outlook.json" "$1" <<'PY'
import json, sys
folders = json.load(open(sys.argv[1], encoding="utf-8"))["folders"]
print("%s: " % sys.argv[2] + ", ".join("%s %d" % (name, len(folders.get(name, []))) for name in
                                      ("Inbox", "Processed", "Skipped", "Sent Items")))
PY
}
wine_quiet "$bin/LvMAPI.exe" demo.db 1 "$strategy"
counts "after command 1"
answer_sent 0
wine_quiet "$bin/LvMAPI.exe" demo.db 5
counts "after command 5"
row=$(sqlite3 -separator ' | ' "$bin/demo.db" \
  "SELECT PercentComplete, Comment FROM StrategyGoalStatusResponse WHERE GoalID = '$meal_goal'")
echo "stored through Outlook: $row"
sent_before=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["folders"]["Sent Items"]))' "$out/outlook.json")
wine_quiet "$bin/LvMAPI.exe" demo.db 2 "$survey"
counts "after command 2"
answer_sent "$sent_before"
wine_quiet "$bin/LvMAPI.exe" demo.db 4
counts "after command 4"
answers=$(sqlite3 "$bin/demo.db" "SELECT COUNT(*) FROM SurveyResponse")
echo "survey answers stored: $answers"
wine_quiet "$bin/LvMAPI.exe" demo.db 4
counts "after a second command 4"
python3 - "$out/outlook.json" "$row" "$answers" <<'PY'
import json, sys
state = json.load(open(sys.argv[1], encoding="utf-8"))
folders, task = state["folders"], state["tasks"][0]
print("task body:\n  " + task["body"].replace("\r\n", "\n  "))
failures = []
if not sys.argv[2].startswith("40 | "):
    failures.append("the goal's status was not stored from the Outlook reply")
if int(sys.argv[3]) == 0:
    failures.append("no survey answer was stored from the Outlook replies")
if task.get("saves") != 1 or task["percent"] != 40:
    failures.append("the task was not saved once with 40%")
if folders.get("Inbox"):
    failures.append("replies left in the Inbox: %s" % [m["entryId"] for m in folders["Inbox"]])
if [m["entryId"] for m in folders.get("Skipped", [])] != [m["entryId"] for m in folders.get("Skipped", []) if m["entryId"].startswith("report-")] or not folders.get("Skipped"):
    failures.append("the delivery report is not in Skipped alone")
if len(folders.get("Processed", [])) < 2:
    failures.append("the consumed replies are not in Processed")
if any(o["addRefs"] != o["releases"] for o in state.get("objects", [])):
    failures.append("an object Outlook handed out was not given back")
for failure in failures:
    print("FAIL: " + failure, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
echo "Outlook mail loop under Wine: sent through Outlook, replies read from its Inbox, stored, and filed in Processed"
