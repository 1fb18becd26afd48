#!/usr/bin/env bash
# Installs what is needed, builds Tandor and runs the bundled demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${TANDOR_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDOR_TESTS=OFF \
  -DTANDOR_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
if [ -x demo/run.sh ]; then
  exec demo/run.sh "$build/Tandor"
fi
echo "Built $build/Tandor. The demo product arrives with the update pass; nothing to run yet."
