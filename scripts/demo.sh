#!/usr/bin/env bash
# Builds everything, makes the demo disk image and runs the main job on it: a
# deep scan of its FAT32 partition that recovers every file found into demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
mkdir -p demo-out
image=demo-out/demo-disk.img
scripts/make-demo-image.sh "$image" >/dev/null
rm -rf demo-out/recovered
export ORVALE_SUPPORT_DIR=${ORVALE_SUPPORT_DIR:-$PWD/demo-out/support}
echo "== orvale-cli scan $image --partition 1 --recover demo-out/recovered"
build/bin/orvale-cli scan "$image" --partition 1 --recover demo-out/recovered
echo
echo "Recovered files:"
find demo-out/recovered -type f | sort
