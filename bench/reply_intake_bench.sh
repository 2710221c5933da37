#!/usr/bin/env bash
# Reply intake benchmark (command 4): REPLIES survey replies of ANSWERS
# answers each, stored into a database that already holds EXISTING
# SurveyResponse rows. For each case it measures LvMAPI's wall time, peak
# memory and the bytes it writes to standard output, once with standard
# output to /dev/null and once to a pipe (as a caller that captures it), on
# a fresh copy of the same starting database each time.
#
# The floor replays the very statements LvMAPI sent (its database library's
# statement trace) through the sqlite3 command-line tool on another copy,
# with one transaction per reply as LvMAPI stores them
# (bench/replay_script.py); sqlite3 prints the rows of every SELECT, so the
# floor reads and writes out what LvMAPI reads and traces. Ratios compare
# with the floor in the same output mode.
#
# Usage: bench/reply_intake_bench.sh [BUILD_DIR [CASES]]
#   BUILD_DIR  default build
#   CASES      EXISTING:REPLIES pairs, default "100000:1000 1000000:100"
#              (fewer replies over a million answers: each reply reads them
#              all, and the ratio is as stable with a hundred)
# Environment: ANSWERS (default 10); BEFORE=<another build folder> measures
# that build's LvMAPI as well, in the same run, for a before/after table.
# CACHEGRIND=1 runs each program once under valgrind's cachegrind instead
# (standard output to /dev/null) and prints, per reply, the instructions, the
# data references and the misses of a fixed cache model (CACHE_D1, CACHE_LL
# in cachegrind's size,ways,line form; defaults: 32 KiB first level, 4 MiB
# last level), which do not depend on the machine or its load.
# Needs /usr/bin/time, sqlite3 and /usr/bin/python3 (and valgrind for
# CACHEGRIND). Works in a temporary folder that it removes afterwards.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build}
cases=${2:-"100000:1000 1000000:100"}
answers=${ANSWERS:-10}
before=${BEFORE:-}
absolute() { case $1 in /*) echo "$1" ;; *) echo "$(pwd)/$1" ;; esac; }
build=$(absolute "$build")
[ -z "$before" ] || before=$(absolute "$before")

work=$(mktemp -d "${TMPDIR:-/tmp}/lvmapi-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# An install folder per build: LvMAPI, its library and a stand-in for the
# mail-access program that hands over the prepared replies.
install() {  # install NAME BUILD
  mkdir "$work/$1"
  cp "$2/bin/LvMAPI" "$2/bin/libTarnbase.so" "$work/$1/"
  cat > "$work/$1/LVEmailAccess" <<STANDIN
#!/bin/sh
[ "\$3" = "Corvane Survey" ] && cp "$work/incoming.txt" "\$2"
exit 0
STANDIN
  chmod +x "$work/$1/LVEmailAccess"
}
programs=(after)
install after "$build"
if [ -n "$before" ]; then
  programs=(before after)
  install before "$before"
fi

# Runs "$@" with standard input from $input and standard output to $mode
# (null or pipe); prints "<wall s> <cpu s> <peak KiB> <stdout bytes or ->".
# The processor time (user + system) is printed too: on a shared machine it
# varies less than the wall time.
measure() {
  local mode=$1 input=$2 bytes=-
  shift 2
  if [ "$mode" = null ]; then
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" < "$input" > /dev/null
  else
    bytes=$(/usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" < "$input" | wc -c)
  fi
  read -r wall user system peak < "$work/time"
  echo "$wall $(/usr/bin/python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) + float(sys.argv[2])))' \
    "$user" "$system") $peak $bytes"
}
# Runs "$@" under cachegrind with standard input from $1 and standard output
# to /dev/null; prints "<instructions> <data refs> <D1 misses> <LL data misses>".
cache_counts() {
  local input=$1
  shift
  valgrind --tool=cachegrind --cache-sim=yes --I1=32768,8,64 --D1="${CACHE_D1:-32768,8,64}" \
    --LL="${CACHE_LL:-4194304,16,64}" --cachegrind-out-file=/dev/null --log-file="$work/cachegrind.log" \
    "$@" < "$input" > /dev/null
  awk '$2 == "I" && $3 == "refs:" { i = $4 } $2 == "D" && $3 == "refs:" { d = $4 }
       $2 == "D1" && $3 == "misses:" { d1 = $4 } $2 == "LLd" && $3 == "misses:" { ll = $4 }
       END { gsub(",", "", i); gsub(",", "", d); gsub(",", "", d1); gsub(",", "", ll); print i, d, d1, ll }' \
    "$work/cachegrind.log"
}
# One row of the cachegrind table: NAME REPLIES INSTRUCTIONS DATA_REFS D1 LL,
# the counts per reply (in millions), then the bytes missed per reply.
cache_line() {
  /usr/bin/python3 -c 'import sys
name, replies = sys.argv[1], float(sys.argv[2])
i, d, d1, ll = (float(v) / replies for v in sys.argv[3:7])
print("%-22s %10.2f %10.2f %12.3f %12.3f %10.1f %10.1f" % (name, i / 1e6, d / 1e6, d1 / 1e6, ll / 1e6, d1 * 64 / 2**20, ll * 64 / 2**20))' "$@"
}
rows() { sqlite3 "$1" "SELECT (SELECT count(*) FROM SurveyReply) || '|' || (SELECT count(*) FROM SurveyResponse)"; }
ratio() { /usr/bin/python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / max(float(sys.argv[2]), 0.01)))' "$1" "$2"; }
line() { printf '%-22s %-6s %8s %8s %13s %12s %8s %8s  %s\n' "$@"; }

for case in $cases; do
  existing=${case%%:*}
  replies=${case##*:}
  rm -f "$work/start.db"
  /usr/bin/python3 "$here/make_reply_data.py" "$source_dir/db/schema.sql" "$work/start.db" \
    "$work/incoming.txt" "$replies" "$answers" "$existing"
  echo
  echo "LvMAPI command 4: $replies replies x $answers answers over $existing stored answers"
  if [ -n "${CACHEGRIND:-}" ]; then
    printf '%-22s %10s %10s %12s %12s %10s %10s\n' "per reply" "instr M" "data M" "D1 miss M" "LL miss M" \
      "D1 MiB" "LL MiB"
    for program in "${programs[@]}"; do
      cp "$work/start.db" "$work/$program/bench.db"
      rm -f "$work/trace.sql"
      cache_line "LvMAPI ($program)" "$replies" \
        $(TARNBASE_TRACE="$work/trace.sql" cache_counts /dev/null "$work/$program/LvMAPI" bench.db 4)
    done
    /usr/bin/python3 "$here/replay_script.py" "$work/trace.sql" "$work/replay.sql"
    cp "$work/start.db" "$work/floor.db"
    cache_line "sqlite3 replay (floor)" "$replies" $(cache_counts "$work/replay.sql" sqlite3 -batch "$work/floor.db")
    continue
  fi
  line "" "stdout" "wall s" "cpu s" "peak RSS KiB" "stdout bytes" "x floor" "cpu x fl" "rows (replies|answers)"

  declare -A time=() cpu=() mem=() out=() stored=()
  for program in "${programs[@]}"; do
    for mode in null pipe; do
      cp "$work/start.db" "$work/$program/bench.db"
      rm -f "$work/trace.sql"
      set -- $(TARNBASE_TRACE="$work/trace.sql" measure $mode /dev/null "$work/$program/LvMAPI" bench.db 4)
      time[$program.$mode]=$1 cpu[$program.$mode]=$2 mem[$program.$mode]=$3 out[$program.$mode]=$4
      stored[$program.$mode]=$(rows "$work/$program/bench.db")
    done
  done
  # The floor replays the statements of the last run (every run sends the
  # same ones, new identifiers aside).
  statements=$(grep -c '^SELECT\|^INSERT\|^UPDATE\|^DELETE' "$work/trace.sql" || true)
  /usr/bin/python3 "$here/replay_script.py" "$work/trace.sql" "$work/replay.sql"
  for mode in null pipe; do
    cp "$work/start.db" "$work/floor.db"
    set -- $(measure $mode "$work/replay.sql" sqlite3 -batch "$work/floor.db")
    time[floor.$mode]=$1 cpu[floor.$mode]=$2 mem[floor.$mode]=$3 out[floor.$mode]=$4
    stored[floor.$mode]=$(rows "$work/floor.db")
  done

  for program in "${programs[@]}"; do
    for mode in null pipe; do
      line "LvMAPI ($program)" "$mode" "${time[$program.$mode]}" "${cpu[$program.$mode]}" "${mem[$program.$mode]}" \
        "${out[$program.$mode]}" "$(ratio "${time[$program.$mode]}" "${time[floor.$mode]}")" \
        "$(ratio "${cpu[$program.$mode]}" "${cpu[floor.$mode]}")" "${stored[$program.$mode]}"
    done
  done
  for mode in null pipe; do
    line "sqlite3 replay (floor)" "$mode" "${time[floor.$mode]}" "${cpu[floor.$mode]}" "${mem[floor.$mode]}" \
      "${out[floor.$mode]}" "1.00" "1.00" "${stored[floor.$mode]}"
  done
  echo "statements sent per run: $statements"
  grep -o 'Number of survey responses read from file: [0-9]*' "$work/after/LvMAPI.log" || true
  unset time cpu mem out stored
done
