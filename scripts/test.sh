#!/usr/bin/env bash
# Installs what is needed, builds Tandor with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${TANDOR_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDOR_SANITIZE=ON \
  -DTANDOR_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Leaks inside the X and Qt libraries are not ours to fix.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
# As root, the Debian package is built, installed, tried and removed again.
if [ "$(id -u)" -eq 0 ]; then
  tests/package/package_test.sh
fi
