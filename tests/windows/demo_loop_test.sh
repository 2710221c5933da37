#!/usr/bin/env bash
# The demo's whole loop with the Windows programs under Wine, beside the same
# loop with the Linux build: commands 2 and 1 send into the Maildir, replies
# are delivered, command 5 stores them and updates the task. Both builds
# must store the same answers and goal status, update the task alike, and
# write the same run log for command 5, byte for byte once the folder, the
# exchange files' random names and the task's date are masked.
#
#   bash tests/windows/demo_loop_test.sh BUILD_WINDOWS [BUILD_LINUX]
set -euo pipefail
cd "$(dirname "$0")/../.."
win=$1
linux=${2:-build}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Windows without a settings file uses Outlook, or refuses to run where
# there is none; the demo's loop is the Maildir's.
conf="$win/bin/LVEmailAccess.conf"
[ -e "$conf" ] && { echo "FAIL: $conf is in the way of the demo's loop" >&2; exit 1; }
printf '[general]\ntransport = maildir\n' > "$conf"
trap 'rm -rf "$out" "$conf"' EXIT
BUILD_DIR="$win" RUN="$win/wine-run" EXE=.exe bash scripts/demo.sh > "$out/windows.txt"
BUILD_DIR="$linux" bash scripts/demo.sh > "$out/linux.txt"

# What differs by nature: the folder each build lives in (and how each
# system writes it), the program's name as its caller typed it, the GUID
# names of exchange files.
mask() {
  local folder=$1
  sed -e "s#$folder#<bin>/#g" -e 's#^Parameter pgmPath: .*\r$#Parameter pgmPath: <program>\r#' \
      -e 's#{[0-9A-F]\{8\}-[0-9A-F]\{4\}-[0-9A-F]\{4\}-[0-9A-F]\{4\}-[0-9A-F]\{12\}}\.tmp#<exchange>.tmp#g'
}
wbin=$(cd "$win/bin" && pwd)
lbin=$(cd "$linux/bin" && pwd)
# Windows names the folder with its drive and backslashes: Z:\work\...\bin\ .
wfolder="Z:$(printf '%s' "$wbin" | sed 's#/#\\\\#g')\\\\"
mask "$wfolder" < "$win/bin/LvMAPI.log" > "$out/windows.log"
mask "$lbin/" < "$linux/bin/LvMAPI.log" > "$out/linux.log"
if ! cmp "$out/windows.log" "$out/linux.log"; then
  diff <(tr -d '\r' < "$out/linux.log") <(tr -d '\r' < "$out/windows.log") | head -40
  echo "FAIL: the run logs of command 5 differ" >&2
  exit 1
fi

# The stored answers, goal status and the task's fields the demo prints.
# The task's folder is shown as each run was given it, and its time of
# change is the second each run made it.
section() {
  sed -n '/== Stored survey answers/,$p' "$1" |
    sed -e "s#(.*/bin/Tasks/#(<bin>/Tasks/#" -e 's#^LAST-MODIFIED:.*#LAST-MODIFIED:<when>#'
}
if ! diff <(section "$out/linux.txt") <(section "$out/windows.txt"); then
  echo "FAIL: the Windows build stored or updated something else" >&2
  exit 1
fi
rows=$(sqlite3 "$win/bin/demo.db" "SELECT COUNT(*) FROM SurveyResponse")
goals=$(sqlite3 "$win/bin/demo.db" "SELECT COUNT(*) FROM StrategyGoalStatusResponse")
[ "$rows" -gt 0 ] && [ "$goals" -gt 0 ] || { echo "FAIL: nothing stored under Wine" >&2; exit 1; }
# Maildir names written by the Windows build never hold ':' (on NTFS it
# would name a hidden stream of the file).
if find "$win/bin/Mail" -name '*:*' | grep -q .; then
  find "$win/bin/Mail" -name '*:*' >&2
  echo "FAIL: the Windows build wrote a Maildir name with ':'" >&2
  exit 1
fi
echo "demo loop under Wine: $rows answers and $goals goal status rows stored, run log of command 5 the same as Linux's ($(wc -c < "$out/windows.log") bytes)"
