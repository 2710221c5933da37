#!/usr/bin/env bash
# The goal status loop with the Windows programs under Wine and the Outlook
# double registered as Outlook: command 1 sends the demo strategy's goal
# notifications into the Maildir, the community meal's person replies, and
# command 5 stores the status and updates the goal's task in the double's
# Tasks folder, since no Tasks folder lies beside the program. Prints the
# stored row, the task's body and the calls Outlook saw.
#
#   bash tests/windows/outlook_loop_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
win=$(cd "$1" && pwd)
run="$win/wine-run"
dll="$win/tests/outlook_double.dll"
[ -f "$dll" ] || { echo "FAIL: no $dll (the tests were not built)" >&2; exit 1; }
export WINEPREFIX="$win/wineprefix"

out=$(mktemp -d)
bin="$out/bin"
mkdir -p "$bin"
cp "$win"/bin/*.exe "$win"/bin/*.dll "$bin/"
cp -r "$win/bin/zoneinfo" "$bin/" 2>/dev/null || true
sqlite3 "$bin/demo.db" < db/schema.sql
sqlite3 "$bin/demo.db" < db/demo.sql
strategy='{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}'
meal_goal='{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}'

# Wine's services keep every pipe they inherit: each Wine program here runs
# with its streams away from the caller's.
wine_quiet() { "$run" "$@" </dev/null >/dev/null 2>&1; }
# A Linux path as Wine's drive Z: names it.
windows_path() { printf 'Z:%s' "$1" | sed 's#/#\\#g'; }
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true

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
