#!/usr/bin/env bash
# Builds, makes a fresh demo database beside the program and runs LvMAPI on it,
# then shows what happened. BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh >/dev/null
bin="${BUILD_DIR:-build}/bin"
rm -f "$bin/demo.db"
sqlite3 "$bin/demo.db" < db/schema.sql
sqlite3 "$bin/demo.db" < db/demo.sql

# Survey sending (command 2). The mail-access program beside LvMAPI delivers
# the messages into local Maildir folders. Where it has not been built, a
# stand-in found on PATH keeps a copy of the exchange file it was handed.
survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
standin=""
outbox="$bin/Mail/Outbox/new"
if [ ! -x "$bin/LVEmailAccess" ]; then
  standin="$(mktemp -d)"
  trap 'rm -rf "$standin"' EXIT
  cat > "$standin/LVEmailAccess" <<'STANDIN'
#!/bin/sh
here="$(dirname "$0")"
printf 'operation %s, subject "%s", flag %s\n' "$1" "$3" "$4" > "$here/call.txt"
cp "$2" "$here/exchange.txt"
STANDIN
  chmod +x "$standin/LVEmailAccess"
  export PATH="$standin:$PATH"
fi
before="$(ls "$outbox" 2>/dev/null || true)"

echo "== LvMAPI demo.db 2 $survey"
"$bin/LvMAPI" demo.db 2 "$survey"
echo "== run log ($bin/LvMAPI.log)"
tr -d '\r' < "$bin/LvMAPI.log"

if [ -n "$standin" ]; then
  echo "== the mail-access stand-in was started with"
  cat "$standin/call.txt"
  echo "== the exchange file it was handed"
  tr -d '\r' < "$standin/exchange.txt"
  echo
else
  sent=()
  for f in $(ls "$outbox" 2>/dev/null); do
    grep -qxF "$f" <<<"$before" || sent+=("$f")
  done
  echo "== ${#sent[@]} messages delivered to $outbox"
  for f in "${sent[@]}"; do grep -m1 '^To:' "$outbox/$f" || true; done
  if [ ${#sent[@]} -gt 0 ]; then
    echo "== the first of them, decoded"
    /usr/bin/python3 - "$outbox/${sent[0]}" <<'SHOW'
import sys
from email import message_from_binary_file, policy
with open(sys.argv[1], "rb") as f:
    message = message_from_binary_file(f, policy=policy.default)
for name in ("From", "To", "Subject"):
    print(f"{name}: {message[name]}")
print()
print(message.get_content().replace("\r", ""))
SHOW
  fi
fi
