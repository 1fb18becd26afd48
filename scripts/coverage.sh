#!/usr/bin/env bash
# Builds Tandor with --coverage in its own tree, runs the whole test suite and prints the line
# coverage of src/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${TANDOR_COVERAGE_DIR:-build-cov}
# Counters updated atomically: the download workers run the same code on several threads, and
# plain counters can then come out negative, which gcovr refuses.
cov="--coverage -fprofile-update=atomic"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTANDOR_BENCH=OFF \
  -DCMAKE_C_FLAGS="$cov" -DCMAKE_CXX_FLAGS="$cov" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300 || status=$?
# CMake's compiler checks leave coverage notes of their own; they are no part of the suite.
# The per-file table goes to a file in the build tree (gcovr replaces its output file, so it
# must never be pointed at a device such as /dev/null); the summary is printed.
gcovr -r . --filter src/ --object-directory "$build" \
  --exclude-directories "$build/CMakeFiles/[0-9]+\.[0-9.]+" --print-summary \
  -o "$build/coverage.txt"
exit "${status:-0}"
