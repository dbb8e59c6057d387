#!/usr/bin/env bash
# Runs every fuzz target for minutes each (default 5), keeping what it learns
# in a corpus under the build dir, so later runs go on from there.
# Usage: bench/fuzz-long.sh [minutes-per-target] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-5}
build=${2:-build-fuzz}
scripts/fuzz-smoke.sh "$build" 1 >/dev/null
corpus=$build/fuzz-corpus-long
[ -d "$corpus" ] || cp -r "$build/fuzz-corpus" "$corpus"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
status=0
for bin in "$build"/bin/fuzz_*; do
  t=$(basename "$bin")
  mkdir -p "$corpus/$t"
  echo "fuzz: $t for $minutes min"
  "$bin" -max_total_time=$((minutes * 60)) -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/$t-" "$corpus/$t" 2>"$build/$t-long.log" || { status=1; echo "fuzz: $t FAILED, see $build/$t-long.log"; }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$t-long.log" || true
done
exit $status
