#!/usr/bin/env bash
# Builds everything and runs the main job. Until the deep scan lands this prints the CLI's usage.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/bin/orvale-cli --help
