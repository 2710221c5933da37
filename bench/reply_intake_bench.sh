#!/bin/sh
# Reply intake benchmark (command 4): REPLIES survey replies of ANSWERS answers
# each, stored into a database that already holds EXISTING SurveyResponse
# rows. Measures LvMAPI's wall time, peak memory and the bytes it writes to
# standard output, then replays the very statements it sent (taken from the
# database library's statement trace) through the sqlite3 command-line tool
# on a copy of the same starting database, as the floor.
#
# Usage: bench/reply_intake_bench.sh [BUILD_DIR] [REPLIES] [ANSWERS] [EXISTING]
# Defaults: build-replies 1000 10 100000. Needs /usr/bin/time, sqlite3 and
# /usr/bin/python3. Works in a temporary folder that it removes afterwards.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build-replies}
replies=${2:-1000}
answers=${3:-10}
existing=${4:-100000}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac

work=$(mktemp -d "${TMPDIR:-/tmp}/lvmapi-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cp "$build/bin/LvMAPI" "$build/bin/libTarnbase.so" "$work/bin/"

/usr/bin/python3 "$here/make_reply_data.py" "$source_dir/db/schema.sql" "$work/bin/bench.db" \
  "$work/incoming.txt" "$replies" "$answers" "$existing"
cp "$work/bin/bench.db" "$work/floor.db"

# A stand-in for the mail-access program: it hands over the prepared replies.
cat > "$work/bin/LVEmailAccess" <<STANDIN
#!/bin/sh
[ "\$3" = "Corvane Survey" ] && cp "$work/incoming.txt" "\$2"
exit 0
STANDIN
chmod +x "$work/bin/LVEmailAccess"

# Runs a command with its standard output counted; prints
# "<seconds> <peak KiB> <stdout bytes>".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" | wc -c > "$work/bytes"
  printf '%s %s\n' "$(cat "$work/time")" "$(tr -d ' ' < "$work/bytes")"
}

echo "LvMAPI command 4: $replies replies x $answers answers over $existing stored responses"
set -- $(TARNBASE_TRACE="$work/trace.sql" measure "$work/bin/LvMAPI" bench.db 4)
lv_time=$1 lv_mem=$2 lv_out=$3
stored=$(sqlite3 "$work/bin/bench.db" "SELECT (SELECT count(*) FROM SurveyReply), (SELECT count(*) FROM SurveyResponse)")
statements=$(wc -l < "$work/trace.sql")
grep -o 'Number of survey responses read from file: [0-9]*' "$work/bin/LvMAPI.log" || true

# The floor: the same statements, each made a complete SQL statement.
sed 's/$/;/' "$work/trace.sql" > "$work/replay.sql"
set -- $(measure sh -c 'sqlite3 "$1" < "$2"' floor "$work/floor.db" "$work/replay.sql")
sq_time=$1 sq_mem=$2 sq_out=$3
replayed=$(sqlite3 "$work/floor.db" "SELECT (SELECT count(*) FROM SurveyReply), (SELECT count(*) FROM SurveyResponse)")

printf '%-24s %10s %14s %16s %s\n' "" "wall s" "peak RSS KiB" "stdout bytes" "rows (replies|responses)"
printf '%-24s %10s %14s %16s %s\n' "LvMAPI 4" "$lv_time" "$lv_mem" "$lv_out" "$stored"
printf '%-24s %10s %14s %16s %s\n' "sqlite3 replay (floor)" "$sq_time" "$sq_mem" "$sq_out" "$replayed"
echo "statements sent: $statements"
