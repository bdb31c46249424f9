#!/usr/bin/env bash
# Runs every fuzz target for the given seconds, one after the other at low
# priority, and prints its executions and findings. A finding is any input that
# crashed, leaked, tripped a sanitizer, ran over 10 s or took over 2 GB.
#   fuzz/run_fuzzers.sh <build-dir relative to the source folder> <seconds>
# FUZZ_TARGETS="a b" runs only these targets (names of fuzz/fuzz_<name>.cpp).
# ./run.sh fuzz builds the targets and calls this; it exits 1 on any finding.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

if [ $# -ne 2 ]; then
  echo "usage: fuzz/run_fuzzers.sh BUILD-DIR SECONDS" >&2
  exit 2
fi
dir=$1 seconds=$2 status=0 summary=""
targets=${FUZZ_TARGETS:-$(cd "$ROOT/fuzz" && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')}
for t in $targets; do
  corpus=$ROOT/$dir/corpus/$t findings=$ROOT/$dir/findings/$t log=$ROOT/$dir/fuzz_$t.log
  mkdir -p "$corpus" "$findings"
  dict=()
  [ -f "$ROOT/fuzz/$t.dict" ] && dict=(-dict="$ROOT/fuzz/$t.dict")
  echo "== Fuzzing $t for $seconds s (log: $log)"
  rc=0
  nice -n 19 "$ROOT/$dir/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "$ROOT/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  grep -E "^(==[0-9]+==ERROR|SUMMARY|FINDING|Done)" "$log" | head -5 || true
  summary+=$(printf '%-16s %12s executions  %3s findings  (exit %s)' "$t" "${runs:-?}" "$found" "$rc")$'\n'
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then status=1; fi
done
echo "== Fuzzing summary ($seconds s per target; findings in $dir/findings)"
printf '%s' "$summary"
exit $status
