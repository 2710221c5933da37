#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz, or FUZZ_BUILD_DIR)
# and runs each for FUZZ_SECONDS (default 30) on a copy of its seed corpus
# fuzz/corpus/<target>/, so the repository's corpus never grows by itself.
# Prints the runs executed per target and exits non-zero when any target
# found a crash, a sanitizer report, a leak or a timeout; the offending
# input is kept in <build>/fuzz/findings/. Name targets as arguments to run
# only those.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "FUZZ_SECONDS must be a whole number of seconds: $seconds" >&2; exit 64; }
build_log="$(mktemp)"
if ! CC=clang CXX=clang++ BUILD_DIR="$build" bash scripts/bootstrap.sh \
       -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLVMAPI_FUZZ=ON -DLVMAPI_TESTS=OFF >"$build_log" 2>&1; then
  cat "$build_log" >&2
  rm -f "$build_log"
  echo "building the fuzz targets failed" >&2
  exit 1
fi
rm -f "$build_log"

# Longest input per target: enough for real files of each kind, small enough
# that every run stays quick.
declare -A max_len=(
  [tag_extraction]=16384
  [line_break_normaliser]=4096
  [outgoing_exchange_reader]=16384
  [incoming_exchange_reader]=16384
  [message_text]=65536
  [delivery_report]=65536
  [html_text]=32768
  [charset_conversion]=4096
  [message_composer]=16384
  [task_store_update]=8192
  [imap_responses]=4096
  [settings_reader]=8192
  [token_service_answer]=8192
  [hand_back_reader]=4096
  [authentication_results]=4096
  [smtp_answer]=4096
  [graph_answers]=16384
)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(tag_extraction line_break_normaliser outgoing_exchange_reader
                                     incoming_exchange_reader message_text delivery_report html_text charset_conversion
                                     message_composer task_store_update imap_responses settings_reader
                                     token_service_answer hand_back_reader authentication_results smtp_answer
                                     graph_answers)

findings="$build/fuzz/findings"
mkdir -p "$findings"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=()
for target in "${targets[@]}"; do
  [ -n "${max_len[$target]:-}" ] || { echo "unknown fuzz target: $target" >&2; exit 64; }
  mkdir -p "$work/$target"
  cp fuzz/corpus/"$target"/* "$work/$target"/
  status=0
  # GMime's address parser leaks on some malformed input (fuzz/lsan.supp).
  # Its frames show only with the slow unwinder, which the target parsing
  # addresses from text pays for.
  unwind=""
  [ "$target" = settings_reader ] && unwind=":fast_unwind_on_malloc=0"
  ASAN_OPTIONS="detect_leaks=1$unwind" LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/fuzz_$target" "$work/$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
    >"$work/$target.log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -1)"
  if [ "$status" -eq 0 ]; then
    printf '%-26s %10s runs in %ss\n' "$target" "${runs:-?}" "$seconds"
  else
    printf '%-26s FAILED (exit %s) after %s runs; input kept in %s\n' "$target" "$status" "${runs:-?}" "$findings"
    grep -E 'ERROR:|SUMMARY:|property broken|runtime error' "$work/$target.log" | head -5 | sed 's/^/    /'
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
