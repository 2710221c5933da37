#!/usr/bin/env bash
# Builds, makes a fresh demo database beside the program and runs LvMAPI on it,
# then shows what happened.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh >/dev/null
bin=build/bin
rm -f "$bin/demo.db"
sqlite3 "$bin/demo.db" < db/schema.sql
sqlite3 "$bin/demo.db" < db/demo.sql

survey='{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
echo "== LvMAPI demo.db 2 $survey"
"$bin/LvMAPI" demo.db 2 "$survey"
echo "== run log ($bin/LvMAPI.log)"
tr -d '\r' < "$bin/LvMAPI.log"
