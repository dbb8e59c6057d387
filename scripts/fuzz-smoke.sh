#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a short
# fixed number of runs from its seed corpus. Any crash, leak, hang or sanitizer
# report fails. Usage: scripts/fuzz-smoke.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
runs=${2:-2000}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALE_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DORVALE_BUILD_UI=OFF -DORVALE_BUILD_TESTS=OFF -DORVALE_BUILD_BENCH=OFF >/dev/null
targets=$(cd tests/fuzz && ls Fuzz*.cpp | sed -E 's/^Fuzz//; s/\.cpp$//; s/([a-z])([A-Z])/\1_\2/g' | tr 'A-Z' 'a-z' | sed 's/^/fuzz_/')
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets
corpus=$build/fuzz-corpus
rm -rf "$corpus"
tests/fuzz/make-seeds.sh "$corpus"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in $targets; do
  mkdir -p "$corpus/$t"
  echo "fuzz: $t, $runs runs"
  # Seeds are read but new inputs go to a scratch folder, so every run starts from the same corpus.
  scratch=$(mktemp -d)
  "$build/bin/$t" -runs="$runs" -seed=1 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$build/$t-" "$scratch" "$corpus/$t" 2>"$build/$t.log" || {
      tail -60 "$build/$t.log"
      rm -rf "$scratch"
      echo "fuzz: $t FAILED (artifact and log in $build)"
      exit 1
    }
  rm -rf "$scratch"
  grep -E "^Done|^#[0-9]+.*DONE" "$build/$t.log" | tail -1
done
