#!/usr/bin/env bash
# Files held by another program without sharing, as on-access scanners,
# indexers and backup tools do: the database, the incoming exchange file, a
# reply in the Maildir inbox, the mail-access program's state file and the
# run log. Held
# for a second, the run waits for it and succeeds; held for ten, it ends
# with 75 naming the file as in use, nothing is lost, and the next run
# stores every reply and leaves no exchange file behind.
#
#   bash tests/windows/held_files_test.sh BUILD_WINDOWS
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
run="$build/wine-run"
work=$(mktemp -d)
trap 'wait; rm -rf "$work"' EXIT
bin="$work/bin"
survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$bin"
while read -r f; do mkdir -p "$bin/$(dirname "$f")"; cp "$build/bin/$f" "$bin/$f"; done < "$build/release-files.txt"
cp "$build/tests/hold_file.exe" "$bin/"
# Without a settings file Windows would use Outlook or refuse; these
# checks are of the Maildir.
printf '[general]\ntransport = maildir\n' > "$bin/LVEmailAccess.conf"

rows() { sqlite3 "$bin/demo.db" "SELECT COUNT(*) FROM SurveyResponse"; }
# A fresh database, the survey sent and the replies waiting in the inbox.
prepare() {
  rm -rf "$bin/Mail" "$bin/demo.db" "$bin"/LVEmailAccess.{state,lock,log,ledger,pace,sent} "$bin"/*.tmp "$bin/LvMAPI.leftover"
  sqlite3 "$bin/demo.db" < db/schema.sql
  sqlite3 "$bin/demo.db" < db/demo.sql
  "$run" "$bin/LvMAPI.exe" demo.db 2 "$survey" </dev/null >/dev/null || fail "command 2 ended with $?"
  /usr/bin/python3 scripts/demo_replies.py "$bin/Mail" >/dev/null
  # The state file as an earlier intake leaves it with nothing open.
  printf '# LVEmailAccess intake state\n' > "$bin/LVEmailAccess.state"
}
# Starts the holder on "$@" and returns once it holds the file (with
# --next: once it watches for the file).
hold() {
  rm -f "$work/held"
  "$run" "$bin/hold_file.exe" "$@" > "$work/held" 2>&1 </dev/null &
  for _ in $(seq 1 600); do grep -q '^held\|^watching' "$work/held" 2>/dev/null && return 0; sleep 0.05; done
  cat "$work/held" >&2
  fail "the holder did not get hold of $*"
}
command4() {
  set +e
  "$run" "$bin/LvMAPI.exe" demo.db 4 </dev/null >/dev/null 2> "$work/err"
  status=$?
  set -e
}

# What an undisturbed run stores.
prepare
command4
[ "$status" = 0 ] || { cat "$work/err" >&2; fail "command 4 without any file held ended with $status"; }
reference=$(rows)
[ "$reference" -gt 0 ] || fail "command 4 without any file held stored nothing"

# Each file: how to hold it (arguments of hold_file), and the name the
# message must give.
cases=(
  "database|demo.db|demo.db"
  "exchange file|--next .|.tmp"
  "Maildir message|first-message|Mail"
  "state file|LVEmailAccess.state|LVEmailAccess.state"
  "run log|LvMAPI.log|LvMAPI.log"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r what target named <<<"$entry"
  for seconds in 1 10; do
    said=""
    prepare
    case "$target" in
      --next*) hold --next "$(printf 'Z:%s' "$bin" | sed 's#/#\\#g')" "$seconds" ;;
      first-message) hold "$bin/Mail/Inbox/new/$(ls "$bin/Mail/Inbox/new" | head -1)" "$seconds" ;;
      *) hold "$bin/$target" "$seconds" ;;
    esac
    command4
    if [ "$seconds" = 1 ]; then
      [ "$status" = 0 ] || { cat "$work/err" >&2; fail "$what held for 1 s: exit $status"; }
      [ "$(rows)" = "$reference" ] || fail "$what held for 1 s: $(rows) answers stored, not $reference"
    else
      [ "$status" = 75 ] || { cat "$work/err" "$bin/LvMAPI.log" >&2; fail "$what held for 10 s: exit $status, not 75"; }
      said=$(grep -h "in use by another program" "$work/err" "$bin/LvMAPI.log" "$bin/LVEmailAccess.log" 2>/dev/null || true)
      [ -n "$said" ] || fail "$what held for 10 s: not named as in use by another program"
      grep -qF "$named" <<<"$said" || fail "$what held for 10 s: the message does not name $named: $said"
      during=$(rows)
      wait
      command4
      [ "$status" = 0 ] || { cat "$work/err" >&2; fail "$what: the run after the hold ended with $status"; }
      [ "$(rows)" = "$reference" ] || fail "$what: $(rows) answers stored after the hold ($during during it), not $reference"
    fi
    wait
    "$run" "$bin/LvMAPI.exe" demo.db 4 </dev/null >/dev/null 2>&1 || true
    [ -z "$(ls "$bin"/*.tmp 2>/dev/null)" ] || fail "$what held for $seconds s: an exchange file was left: $(ls "$bin"/*.tmp)"
    echo "$what held for $seconds s: ${said:+exit 75 ($(head -1 <<<"$said" | cut -c1-140)), then }$(rows) of $reference answers stored"
  done
done
