#!/usr/bin/env bash
# The demo's whole loop from a program folder whose path is longer than the
# 260 characters older Windows calls take: the mail-access program is
# started by its full path, and every file call reaches the files there.
#
#   bash tests/windows/long_path_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deep="$work"
for part in "Kirchengemeinde Sankt Johannis am Markt" "Gemeindebüro und Verwaltung der Gemeinde" \
            "Programme der Gemeindeverwaltung 2026" "Mitgliederverwaltung und Umfragen" \
            "Anwendung für Rückmeldungen der Gruppen" "Ablage der Umfragen und Antworten" "Ablage"; do
  deep="$deep/$part"
done
mkdir -p "$deep/bin"
while read -r f; do mkdir -p "$deep/bin/$(dirname "$f")"; cp "$build/bin/$f" "$deep/bin/$f"; done < "$build/release-files.txt"
# Without a settings file Windows would use Outlook or refuse; this
# check is of the Maildir.
printf '[general]\ntransport = maildir\n' > "$deep/bin/LVEmailAccess.conf"
length=$(printf 'Z:%s\\bin\\LVEmailAccess.exe' "$deep" | wc -m)
[ "$length" -gt 260 ] || fail "the folder is not deep enough ($length characters)"

BUILD_DIR="$deep" RUN="$build/wine-run" EXE=.exe bash scripts/demo.sh > "$work/demo.txt" 2>&1 ||
  { tail -20 "$work/demo.txt"; fail "the demo's loop failed"; }
grep -q "could not be started" "$deep/bin/LvMAPI.log" && fail "the mail-access program could not be started"
rows=$(sqlite3 "$deep/bin/demo.db" "SELECT COUNT(*) FROM SurveyResponse")
goals=$(sqlite3 "$deep/bin/demo.db" "SELECT COUNT(*) FROM StrategyGoalStatusResponse")
[ "$rows" -gt 0 ] && [ "$goals" -gt 0 ] || fail "nothing stored from the deep folder"
# One separator per path in what the office reads.
if grep -a 'Z:\\' "$deep/bin/LvMAPI.log" "$deep/bin/LVEmailAccess.log" | grep -q '\\[^ ]*/'; then
  grep -a 'Z:\\' "$deep/bin/LvMAPI.log" "$deep/bin/LVEmailAccess.log" | grep '\\[^ ]*/' | head -3 >&2
  fail "a path mixes separators"
fi
# The mail-access program was started by its short (8.3) name; it still
# names its folder as the office knows it.
if grep -aE '\\[A-Z0-9_]{1,5}~+[A-Z0-9]{3}(\.[A-Z0-9]{1,3})?\\' "$deep/bin/LvMAPI.log" "$deep/bin/LVEmailAccess.log" | grep -q .; then
  grep -aE '\\[A-Z0-9_]{1,5}~+[A-Z0-9]{3}' "$deep/bin/LVEmailAccess.log" | head -2 >&2
  fail "a log names a folder by its short name"
fi
echo "long path: program path of $length characters, $rows answers and $goals goal status rows stored"
