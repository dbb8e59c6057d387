#!/usr/bin/env bash
# Builds the engine library, the command-line tool, the window and every test
# program with AddressSanitizer and UndefinedBehaviorSanitizer in a build dir of
# their own, and runs the whole test suite there. Usage: scripts/sanitize.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-sanitize}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALE_SANITIZE=ON -DORVALE_WERROR=ON \
  -DORVALE_BUILD_UI=ON -DORVALE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
# A leak or a runtime-checked fault fails the test that caused it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
