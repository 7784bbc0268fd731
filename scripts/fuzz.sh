#!/usr/bin/env bash
# Runs the engine's fuzz programs of a sanitizer build (scripts/sanitize.sh)
# one after another, each for a time, at low priority, and prints the
# executions of each and in all. A target's new inputs gather in
# BUILD_DIR/fuzz/corpus/TARGET (the committed starting corpus is only read);
# an input that fails goes to BUILD_DIR/fuzz/crashes/TARGET: put it in
# platform/media/fuzz/regressions/TARGET with the fix.
# Inputs are up to 64 KB; one that takes more than 2 s or brings the
# process above 512 MB counts as a failure too (a small file must cost
# little), as do crashes, leaks and undefined behaviour.
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET] [TARGET...]
# (defaults: build-asan, 600 seconds, every target)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-asan}")
seconds=${2:-600}
shift 2 2>/dev/null || shift $#
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(movie import description userdata timecode)
source "$here/scripts/sanitizer-env.sh"
# The allocator's quarantine of freed memory would count against the limit.
export ASAN_OPTIONS=$ASAN_OPTIONS:quarantine_size_mb=64
max_len=65536
timeout=2
rss_mb=512
fuzz=$here/platform/media/fuzz
total=0
failed=0
echo "limits: inputs up to $max_len bytes, -timeout=$timeout -rss_limit_mb=$rss_mb"
printf '%-12s %12s %10s  %s\n' target executions "exec/s" result
for t in "${targets[@]}"; do
  program=$build/platform/media/fuzz/fuzz_$t
  [ -x "$program" ] || { echo "no $program (build with scripts/sanitize.sh)"; exit 2; }
  mkdir -p "$build/fuzz/corpus/$t" "$build/fuzz/crashes/$t"
  dict=()
  case $t in movie | description) dict=(-dict="$fuzz/atoms.dict") ;; esac
  log=$build/fuzz/$t.log
  nice -n 10 "$program" "$build/fuzz/corpus/$t" "$fuzz/corpus/$t" "${dict[@]}" \
    -max_total_time="$seconds" -max_len=$max_len -timeout=$timeout -rss_limit_mb=$rss_mb -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/crashes/$t/" > "$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=clean
  if [ $status -ne 0 ]; then
    result="FAILED (see $log)"
    failed=1
  fi
  printf '%-12s %12s %10s  %s\n' "$t" "${runs:-0}" "${rate:-0}" "$result"
  total=$((total + ${runs:-0}))
done
printf '%-12s %12s\n' "all" "$total"
exit $failed
